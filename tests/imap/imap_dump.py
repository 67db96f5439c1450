#!/usr/bin/env python3
"""Reads a whole IMAP account with Python's own imaplib, as an independent check of an upload.

Usage: imap_dump.py HOST PORT USER PASSWORD CA_FILE

Prints, sorted, one line per folder and per message:
  folder <name, UTF-8> subscribed=<0|1>
  message <folder> uid=<n> flags=<flags, sorted> date=<INTERNALDATE, seconds since 1970> size=<n> sha256=<hex of BODY[]>
"""
import base64
import datetime
import hashlib
import imaplib
import re
import ssl
import sys


def decode_name(name):
    """Modified UTF-7 (RFC 3501 5.1.3) to text."""
    out, i = [], 0
    while i < len(name):
        if name[i] != '&':
            out.append(name[i])
            i += 1
            continue
        end = name.index('-', i)
        if end == i + 1:
            out.append('&')
        else:
            data = name[i + 1:end].replace(',', '/')
            data += '=' * (-len(data) % 4)
            out.append(base64.b64decode(data).decode('utf-16-be'))
        i = end + 1
    return ''.join(out)


LIST_LINE = re.compile(rb'\((?P<flags>[^)]*)\) (?P<sep>"[^"]*"|NIL) (?P<name>.*)$')


def mailbox_names(lines):
    names = []
    for line in lines:
        if line is None:
            continue
        if isinstance(line, tuple):  # a name sent as a literal
            names.append(line[1].decode())
            continue
        match = LIST_LINE.match(line)
        name = match.group('name').decode()
        if name.startswith('"'):
            name = name[1:-1].replace('\\"', '"').replace('\\\\', '\\')
        names.append(name)
    return names


def quoted(name):
    return '"' + name.replace('\\', '\\\\').replace('"', '\\"') + '"'


def main():
    host, port, user, password, ca_file = sys.argv[1:6]
    context = ssl.create_default_context(cafile=ca_file)
    imap = imaplib.IMAP4_SSL(host, int(port), ssl_context=context)
    imap.login(user, password)
    _, listed = imap.list('""', '*')
    _, subscribed = imap.lsub('""', '*')
    subscribed = set(mailbox_names(subscribed))
    out = []
    for name in mailbox_names(listed):
        shown = decode_name(name)
        out.append('folder %s subscribed=%d' % (shown, name in subscribed))
        status, _ = imap.select(quoted(name), readonly=True)
        if status != 'OK':  # a name that only stands in the hierarchy
            continue
        _, data = imap.uid('SEARCH', None, 'ALL')
        for uid in data[0].split():
            _, fetched = imap.uid('FETCH', uid, '(FLAGS INTERNALDATE RFC822.SIZE BODY.PEEK[])')
            head, body = fetched[0]
            flags = re.search(rb'FLAGS \(([^)]*)\)', head).group(1).decode().split()
            flags = [f for f in flags if f != '\\Recent']
            date = re.search(rb'INTERNALDATE "([^"]*)"', head).group(1).decode()
            date = int(datetime.datetime.strptime(date.strip(), '%d-%b-%Y %H:%M:%S %z').timestamp())
            size = re.search(rb'RFC822.SIZE (\d+)', head).group(1).decode()
            out.append('message %s uid=%s flags=%s date=%s size=%s sha256=%s' % (
                shown, uid.decode(), ','.join(sorted(flags)), date, size, hashlib.sha256(body).hexdigest()))
        imap.close()
    imap.logout()
    print('\n'.join(sorted(out)))


if __name__ == '__main__':
    main()
