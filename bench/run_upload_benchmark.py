#!/usr/bin/env python3
"""Upload benchmark: ombrik-cli --format imap against mbsync pushing the same messages from a
Maildir, both into a local Dovecot, in interleaved rounds.

Builds a folder file of 10,000 messages of 1-4 KB (ombrik-bench-make-dbx), makes the Maildir of the
same messages with ombrik-cli --format maildir, starts Dovecot as an ordinary process on
127.0.0.1 (a throw-away configuration on a tmpfs, a passwd-file user, a self-signed certificate,
TLS), and runs each variant once per round into a folder of its own, which is deleted afterwards.
Wall time and peak memory (max RSS) come from GNU time around each program; every run is checked
to have left exactly the messages on the server. Prints the median and the spread.

  bench/run_upload_benchmark.py --build build --work /dev/shm/ombrik-upload [--rounds 5] [--messages 10000] [--ombrik-only]
"""
import argparse
import grp
import imaplib
import os
import pwd
import shutil
import signal
import socket
import ssl
import statistics
import subprocess
import time


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Dovecot:
    """Dovecot as a child process, on free ports, stopped with all it started."""

    def __init__(self, work):
        self.dir = os.path.join(work, "dovecot")
        shutil.rmtree(self.dir, ignore_errors=True)
        os.makedirs(os.path.join(self.dir, "run"))
        home = os.path.join(self.dir, "home")
        os.makedirs(home)
        self.password = "bench secret"
        self.port = free_port()
        root = os.geteuid() == 0
        if root:  # login processes run unprivileged, and mail is not read as root
            uid, gid = pwd.getpwnam("nobody").pw_uid, pwd.getpwnam("nobody").pw_gid
            internal, internal_group, login = "dovecot", "dovecot", "dovenull"
            os.chmod(self.dir, 0o755)
            os.chown(home, uid, gid)
        else:
            uid, gid = os.geteuid(), os.getegid()
            internal = login = pwd.getpwuid(uid).pw_name
            internal_group = grp.getgrgid(gid).gr_name
        self.cert = os.path.join(self.dir, "cert.pem")
        key = os.path.join(self.dir, "key.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", self.cert,
                        "-days", "2", "-subj", "/CN=localhost", "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1"],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.chmod(key, 0o644)
        with open(os.path.join(self.dir, "passwd"), "w") as f:
            f.write("anna:{PLAIN}%s:%d:%d::%s::\n" % (self.password, uid, gid, home))
        self.password_file = os.path.join(self.dir, "password.txt")
        with open(self.password_file, "w") as f:
            f.write(self.password + "\n")
        config = os.path.join(self.dir, "dovecot.conf")
        with open(config, "w") as f:
            f.write("""base_dir = {d}/run
state_dir = {d}/run
log_path = {d}/log
protocols = imap
listen = 127.0.0.1
default_internal_user = {internal}
default_internal_group = {internal_group}
default_login_user = {login}
first_valid_uid = 1
ssl = yes
ssl_cert = <{d}/cert.pem
ssl_key = <{d}/key.pem
mail_location = maildir:{home}/Maildir
passdb {{
  driver = passwd-file
  args = {d}/passwd
}}
userdb {{
  driver = passwd-file
  args = {d}/passwd
}}
service imap-login {{
  chroot =
  inet_listener imap {{
    port = 0
  }}
  inet_listener imaps {{
    port = {port}
  }}
}}
service anvil {{
  chroot =
}}
service stats {{
  unix_listener stats-writer {{
    mode = 0666
  }}
}}
""".format(d=self.dir, home=home, internal=internal, internal_group=internal_group, login=login, port=self.port))
        self.process = subprocess.Popen(["/usr/sbin/dovecot", "-F", "-c", config], start_new_session=True)
        for _ in range(200):
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return
            except OSError:
                time.sleep(0.05)
        raise RuntimeError("Dovecot did not start; see " + os.path.join(self.dir, "log"))

    def stop(self):
        os.killpg(self.process.pid, signal.SIGTERM)
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            os.killpg(self.process.pid, signal.SIGKILL)
            self.process.wait()

    def imap(self):
        connection = imaplib.IMAP4_SSL("127.0.0.1", self.port, ssl_context=ssl.create_default_context(cafile=self.cert))
        connection.login("anna", self.password)
        return connection

    def count_and_delete(self, folder):
        """The number of messages in folder (and its parents are deleted with it)."""
        connection = self.imap()
        status, data = connection.select('"%s"' % folder, readonly=True)
        count = int(data[0]) if status == "OK" else 0
        connection.close() if status == "OK" else None
        top = folder.split(".")[0]
        _, listed = connection.list('""', '"%s*"' % top)
        names = sorted((line.decode().rsplit(' "." ', 1)[1].strip('"') for line in listed if line), key=len, reverse=True)
        for name in names:
            connection.delete('"%s"' % name)
        connection.logout()
        return count


def run_measured(argv, env=None):
    """Runs argv under GNU time; returns (wall seconds, max RSS in KiB) of that program alone."""
    report = os.path.join("/dev/shm", "ombrik-upload-time-report")
    result = subprocess.run(["/usr/bin/time", "-f", "%e %M", "-o", report] + argv, env=env,
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    if result.returncode != 0:
        raise RuntimeError(" ".join(argv) + " failed:\n" + result.stdout.decode(errors="replace"))
    with open(report) as f:
        seconds, max_rss = f.read().split()[-2:]
    return float(seconds), int(max_rss)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build")
    parser.add_argument("--work", default="/dev/shm/ombrik-upload")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--messages", type=int, default=10000)
    parser.add_argument("--ombrik-only", action="store_true", help="leave mbsync out (to see how memory grows)")
    args = parser.parse_args()

    cli = os.path.abspath(os.path.join(args.build, "src/cli/ombrik-cli"))
    make_dbx = os.path.abspath(os.path.join(args.build, "bench/ombrik-bench-make-dbx"))
    mbsync = shutil.which("mbsync")
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    dbx = os.path.join(args.work, "Bench.dbx")
    subprocess.run([make_dbx, "small", dbx, str(args.messages)], check=True, stdout=subprocess.DEVNULL)
    # The same messages as a Maildir, for mbsync: our own Maildir form of the folder file.
    subprocess.run([cli, "--quiet", "--format", "maildir", "--dest", args.work, dbx], check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    maildir = os.path.join(args.work, "ExportDBX")

    server = Dovecot(args.work)
    try:
        def ombrik(round_number):
            folder = "ombrik%d" % round_number
            state = os.path.join(args.work, "state%d" % round_number)
            env = dict(os.environ, XDG_STATE_HOME=state)
            measured = run_measured([cli, "--quiet", "--format", "imap", "--imap-url",
                                     "imaps://anna@127.0.0.1:%d/%s" % (server.port, folder),
                                     "--imap-password-file", server.password_file, "--imap-ca-file", server.cert, dbx],
                                    env=env)
            shutil.rmtree(state)
            return measured, folder + ".Bench"

        def push_with_mbsync(round_number):
            folder = "mbsync%d" % round_number
            # mbsync renames the files it pushed and keeps its own state: a fresh copy each round.
            source = os.path.join(args.work, "mbsync-source")
            shutil.rmtree(source, ignore_errors=True)
            subprocess.run(["cp", "-a", maildir, source], check=True)
            config = os.path.join(args.work, "mbsyncrc")
            with open(config, "w") as f:
                f.write("""IMAPAccount bench
Host localhost
Port {port}
User anna
PassCmd "cat '{password}'"
SSLType IMAPS
CertificateFile {cert}

IMAPStore far
Account bench

MaildirStore near
Inbox {source}/
SubFolders Maildir++

Channel push
Far :far:{folder}
Near :near:Bench
Sync Push
Create Far
SyncState {source}/.state/
""".format(port=server.port, password=server.password_file, cert=server.cert, source=source, folder=folder))
            os.makedirs(os.path.join(source, ".state"))
            measured = run_measured([mbsync, "-q", "-c", config, "push"])
            return measured, folder

        variants = {"ombrik-cli --format imap": ombrik}
        if not args.ombrik_only:
            variants["mbsync (push from the Maildir)"] = push_with_mbsync
        times = {name: [] for name in variants}
        rss = {name: 0 for name in variants}
        for round_number in range(args.rounds):
            for name, run in variants.items():
                (seconds, max_rss), folder = run(round_number)
                arrived = server.count_and_delete(folder)
                if arrived != args.messages:
                    raise RuntimeError("%s left %d of %d messages on the server" % (name, arrived, args.messages))
                times[name].append(seconds)
                rss[name] = max(rss[name], max_rss)
    finally:
        server.stop()

    load = os.getloadavg()
    print("%d messages, %d rounds, load %.2f %.2f %.2f" % (args.messages, args.rounds, *load))
    print("| variant | median s | min s | max s | messages/s (median) | peak RSS MiB |")
    print("|---|---:|---:|---:|---:|---:|")
    for name in variants:
        median = statistics.median(times[name])
        print("| %s | %.2f | %.2f | %.2f | %.0f | %.1f |" % (name, median, min(times[name]), max(times[name]),
                                                           args.messages / median, rss[name] / 1024))


if __name__ == "__main__":
    main()
