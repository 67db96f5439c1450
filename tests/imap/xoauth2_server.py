#!/usr/bin/env python3
"""A stand-in IMAP server for the XOAUTH2 login, which Dovecot only offers with an OAuth 2 service
behind it. Serves one connection over TLS: offers AUTH=XOAUTH2, checks that the login carries the
expected user and bearer token, and answers NO either way, saying what it received.

Usage: xoauth2_server.py CERT KEY PORT_FILE USER TOKEN
"""
import base64
import socket
import ssl
import sys

cert, key, port_file, user, token = sys.argv[1:6]
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(cert, key)
listener = socket.socket()
listener.bind(("127.0.0.1", 0))
listener.listen(1)
with open(port_file, "w") as f:
    f.write(str(listener.getsockname()[1]))
listener.settimeout(60)
connection, _ = listener.accept()
stream = context.wrap_socket(connection, server_side=True).makefile("rwb", buffering=0)
stream.write(b"* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=XOAUTH2] stand-in ready\r\n")
expected = "user=%s\x01auth=Bearer %s\x01\x01" % (user, token)
for line in stream:
    words = line.decode().strip().split(" ")
    tag, command = words[0], words[1].upper() if len(words) > 1 else ""
    if command == "CAPABILITY":
        stream.write(b"* CAPABILITY IMAP4rev1 SASL-IR AUTH=XOAUTH2\r\n%s OK done\r\n" % tag.encode())
    elif command == "AUTHENTICATE":
        if len(words) > 3:
            payload = words[3]
        else:
            stream.write(b"+ \r\n")
            payload = stream.readline().decode().strip()
        received = base64.b64decode(payload).decode(errors="replace")
        verdict = "token received for " + user if received == expected else "unexpected login " + repr(received)
        stream.write(b"%s NO [AUTHENTICATIONFAILED] %s\r\n" % (tag.encode(), verdict.encode()))
    elif command == "LOGOUT":
        stream.write(b"* BYE\r\n%s OK bye\r\n" % tag.encode())
        break
    else:
        stream.write(b"%s BAD not here\r\n" % tag.encode())
