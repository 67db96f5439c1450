#!/usr/bin/python3
"""An HTTP server on 127.0.0.1 that notes the path of every request it gets, for the tests that
check that our HTML pages fetch nothing. Writes its port to PORT_FILE, appends each path to
LOG_FILE, answers every request with a small image, and stops after LIFETIME seconds.
Usage: recording_server.py PORT_FILE LOG_FILE LIFETIME"""
import http.server
import os
import sys
import threading

GIF = bytes.fromhex("47494638396101000100800000000000ffffff21f90401000000002c00000000010001000002024401003b")


class Recorder(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        with open(sys.argv[2], "a") as log:
            log.write(self.path + "\n")
        self.send_response(200)
        self.send_header("Content-Type", "image/gif")
        self.send_header("Content-Length", str(len(GIF)))
        self.end_headers()
        self.wfile.write(GIF)

    do_POST = do_GET

    def log_message(self, *args):
        pass


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Recorder)
threading.Timer(float(sys.argv[3]), server.shutdown).start()
with open(sys.argv[1] + ".tmp", "w") as out:  # renamed, so that the port file appears whole
    out.write(str(server.server_address[1]))
os.rename(sys.argv[1] + ".tmp", sys.argv[1])
server.serve_forever()
