#!/usr/bin/python3
"""FTP server for the tests, in the manner of the supplier's Windows server.

Listens on 127.0.0.1 on a free port and prints that port on stdout (one line).
Paths may use "\\" as separator; NLST masks match the DOS way, without regard
to letter case ("*.*" also matches names without a dot). Every command line
received is appended to the log file at once, before the server answers, so a
test can check exactly what the client sent.

Run it with Debian's /usr/bin/python3 (python3-pyftpdlib):

  ftp_server.py --root DIR --log FILE [--user NAME:PASSWORD ...]
                [--mode normal|silent|drop-retr] [--hang-on VERB]
                [--idle-timeout SECONDS] [--parent-pid PID]

  --user      an account whose home folder is DIR/NAME (created when missing)
  --mode      silent: accept connections and never send a byte;
              drop-retr: on RETR send the first half of the file, then close
              the data and control connections without a final reply
  --hang-on   stop answering once the given command verb arrives (e.g. RETR)
  --idle-timeout  close a control connection idle for that long (default 300)
  --parent-pid  exit at once when this process is gone; with PR_SET_PDEATHSIG
              the server never outlives the test that started it
"""

import argparse
import ctypes
import fnmatch
import os
import select
import signal
import socket
import sys

PR_SET_PDEATHSIG = 1


def die_with_parent(parent_pid):
    try:
        libc = ctypes.CDLL(None, use_errno=True)
        libc.prctl(PR_SET_PDEATHSIG, signal.SIGKILL, 0, 0, 0)
    except OSError:
        pass
    # The parent may have died before prctl took effect.
    if parent_pid and os.getppid() != parent_pid:
        os._exit(1)


def dos_match(name, mask):
    """DOS wildcard matching, case-insensitive; "*.*" matches every name."""
    mask = mask.lower()
    name = name.lower()
    if mask in ('*', '*.*'):
        return True
    if fnmatch.fnmatchcase(name, mask):
        return True
    # "NAME.*" also matches "NAME" without an extension, as on DOS.
    if mask.endswith('.*') and '.' not in name:
        return fnmatch.fnmatchcase(name, mask[:-2])
    return False


class CommandLog:
    def __init__(self, path):
        self.file = open(path, 'a', encoding='utf-8')

    def write(self, line):
        self.file.write(line.replace('\r', '').replace('\n', ' ') + '\n')
        self.file.flush()


def run_silent(log, announce):
    """Accept connections and never answer; keep them open."""
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(('127.0.0.1', 0))
    listener.listen(16)
    announce(listener.getsockname()[1])
    clients = []
    while True:
        readable, _, _ = select.select([listener] + clients, [], [], 0.5)
        for s in readable:
            if s is listener:
                conn, _ = listener.accept()
                log.write('(connection accepted)')
                clients.append(conn)
            else:
                data = s.recv(4096)
                if not data:
                    clients.remove(s)
                    s.close()
                else:
                    for line in data.decode('utf-8', 'replace').splitlines():
                        log.write(line)


def run_ftp(args, log, announce):
    from pyftpdlib.authorizers import DummyAuthorizer
    from pyftpdlib.filesystems import AbstractedFS
    from pyftpdlib.handlers import FTPHandler
    from pyftpdlib.servers import FTPServer

    class BackslashFS(AbstractedFS):
        def ftpnorm(self, ftppath):
            return super().ftpnorm(ftppath.replace('\\', '/'))

    class HalfProducer:
        """Hands out the first half of the data, then cuts the session."""

        def __init__(self, data, handler):
            self.data = data[:len(data) // 2]
            self.handler = handler

        def more(self):
            if self.data:
                chunk, self.data = self.data, b''
                return chunk
            # Everything handed out so far has gone to the socket: close the
            # data and control connections without a final reply.
            self.handler.close()
            return b''

    class Handler(FTPHandler):
        abstracted_fs = BackslashFS
        auth_failed_timeout = 0
        use_sendfile = False
        banner = 'Test FTP server ready.'

        def pre_process_command(self, line, cmd, arg):
            log.write(line)
            if args.hang_on and cmd == args.hang_on.upper():
                return  # never answer from now on
            return super().pre_process_command(line, cmd, arg)

        def ftp_NLST(self, path):
            mask = os.path.basename(path)
            if any(c in mask for c in '*?'):
                folder = os.path.dirname(path)
                try:
                    names = self.run_as_current_user(self.fs.listdir, folder)
                except OSError as err:
                    self.respond('550 %s.' % err.strerror)
                    return None
                names = sorted(n for n in names if dos_match(n, mask))
                data = ''.join(n + '\r\n' for n in names)
                self.push_dtp_data(data.encode('utf8', self.unicode_errors), cmd='NLST')
                return folder
            return super().ftp_NLST(path)

        def ftp_RETR(self, file):
            if args.mode != 'drop-retr':
                return super().ftp_RETR(file)
            try:
                with open(file, 'rb') as f:
                    data = f.read()
            except OSError as err:
                self.respond('550 %s.' % err.strerror)
                return None
            self.push_dtp_data(HalfProducer(data, self), isproducer=True, cmd='RETR')
            return file

    if args.idle_timeout > 0:
        Handler.timeout = args.idle_timeout
    authorizer = DummyAuthorizer()
    for entry in args.user:
        name, _, password = entry.partition(':')
        home = os.path.join(args.root, name)
        os.makedirs(home, exist_ok=True)
        authorizer.add_user(name, password, home, perm='elradfmwMT')
    Handler.authorizer = authorizer

    server = FTPServer(('127.0.0.1', 0), Handler)
    announce(server.address[1])
    server.serve_forever(timeout=0.5)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--root', required=True)
    parser.add_argument('--log', required=True)
    parser.add_argument('--user', action='append', default=[])
    parser.add_argument('--mode', default='normal', choices=['normal', 'silent', 'drop-retr'])
    parser.add_argument('--hang-on', default='')
    parser.add_argument('--idle-timeout', type=float, default=0)
    parser.add_argument('--parent-pid', type=int, default=0)
    args = parser.parse_args()

    die_with_parent(args.parent_pid)
    signal.signal(signal.SIGTERM, signal.SIG_DFL)
    log = CommandLog(args.log)

    def announce(port):
        sys.stdout.write('%d\n' % port)
        sys.stdout.flush()

    if args.mode == 'silent':
        run_silent(log, announce)
    else:
        run_ftp(args, log, announce)


if __name__ == '__main__':
    main()
