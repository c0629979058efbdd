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
                [--idle-timeout SECONDS] [--faults FILE] [--parent-pid PID]
                [--tls none|offer|require --cert PEM --key PEM]

  --user      an account whose home folder is DIR/NAME (created when missing)
  --mode      silent: accept connections and never send a byte;
              drop-retr: on RETR send the first half of the file, then close
              the data and control connections without a final reply
  --hang-on   stop answering once the given command verb arrives (e.g. RETR)
  --idle-timeout  close a control connection idle for that long (default 300)
  --faults    a JSON file of faults to inject, read again before every command
              (so a test can change it while the server runs): a list of
              {"verb": "STOR", "arg": "*.tmp", "action": ..., "reply": "451 x",
               "bytes": 1000, "seconds": 5, "times": 1}
              verb    the command the fault applies to; arg: a DOS mask the
                      command's argument (its last path part) must match
              action  reply: answer with "reply" instead of doing the command
                      (a 421 also closes the connection);
                      drop: for STOR/RETR move the first "bytes" bytes, then
                      close the data and control connections without a reply;
                      for other commands close the connection at once;
                      stall: for STOR/RETR move the first "bytes" bytes, then
                      fall silent for "seconds" (the whole server sleeps);
                      for other commands sleep before answering;
                      slow: for STOR/RETR move the data at "rate" bytes a
                      second (the whole server sleeps between pieces);
                      drip: answer "reply" one byte every "seconds"
                      instead of doing the command;
                      vanish: do the command, then close the connection
                      instead of answering (the client never hears)
              exists  true: the fault fires only while the command's
                      argument names an existing file
              times   how many times the fault fires (0 or missing: always);
                      the count starts anew whenever the file changes
  --parent-pid  exit at once when this process is gone; with PR_SET_PDEATHSIG
              the server never outlives the test that started it
  --tls       offer: the server answers AUTH TLS (explicit FTP over TLS, with
              PBSZ and PROT) with the certificate and key given;
              require: it also refuses USER and PASS on a control
              connection without TLS, and PASV/PORT before PROT P
              (python3-openssl)
"""

import argparse
import ctypes
import fnmatch
import json
import os
import select
import signal
import socket
import sys
import time

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


class Faults:
    """The faults of the control file, and how often each has fired."""

    def __init__(self, path):
        self.path = path
        self.text = None
        self.faults = []
        self.fired = []

    def _reload(self):
        if not self.path:
            return
        try:
            with open(self.path, encoding='utf-8') as f:
                text = f.read()
        except OSError:
            text = ''
        if text != self.text:
            self.text = text
            try:
                self.faults = json.loads(text) if text.strip() else []
            except ValueError:
                self.faults = []
            self.fired = [0] * len(self.faults)

    def take(self, cmd, arg, exists=None):
        """The fault for this command, counted as fired, or None."""
        self._reload()
        name = arg.replace('\\', '/').rsplit('/', 1)[-1]
        for i, fault in enumerate(self.faults):
            if fault.get('verb', '').upper() != cmd:
                continue
            mask = fault.get('arg', '')
            if mask and not dos_match(name, mask):
                continue
            if fault.get('exists') and not (exists and exists(arg)):
                continue
            times = int(fault.get('times', 0) or 0)
            if times and self.fired[i] >= times:
                continue
            self.fired[i] += 1
            return fault
        return None


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
    from pyftpdlib.handlers import DTPHandler, FTPHandler
    from pyftpdlib.servers import FTPServer

    if args.tls != 'none':
        from pyftpdlib.handlers import TLS_DTPHandler, TLS_FTPHandler
        ControlBase, DataBase = TLS_FTPHandler, TLS_DTPHandler
    else:
        ControlBase, DataBase = FTPHandler, DTPHandler

    class BackslashFS(AbstractedFS):
        def ftpnorm(self, ftppath):
            return super().ftpnorm(ftppath.replace('\\', '/'))

    faults = Faults(args.faults)

    class CutProducer:
        """Hands out the first bytes of the data, then cuts the session
        (drop) or sleeps before handing out the rest (stall)."""

        def __init__(self, data, count, handler, stall_seconds=None):
            self.data = data[:count]
            self.rest = data[count:]
            self.handler = handler
            self.stall_seconds = stall_seconds

        def more(self):
            if self.data:
                chunk, self.data = self.data, b''
                return chunk
            if self.stall_seconds is not None:
                time.sleep(self.stall_seconds)
                self.stall_seconds = None
                chunk, self.rest = self.rest, b''
                return chunk
            # Everything handed out so far has gone to the socket: close the
            # data and control connections without a final reply.
            self.handler.close()
            return b''

    class SlowProducer:
        """Hands out the data a piece every 50 ms at the fault's rate."""

        def __init__(self, data, rate):
            self.data = data
            self.piece = max(1, int(rate * 0.05))
            self.first = True

        def more(self):
            if not self.first:
                time.sleep(0.05)
            self.first = False
            chunk, self.data = self.data[:self.piece], self.data[self.piece:]
            return chunk

    class FaultyDTPHandler(DataBase):
        """Receives an upload, with the fault of its STOR if any."""

        def handle_read(self):
            fault = getattr(self.cmd_channel, 'transfer_fault', None)
            if not fault or self.file_obj is None:
                return super().handle_read()
            if fault.get('action') == 'slow':
                piece = max(1, int(float(fault.get('rate', 65536)) * 0.05))
                try:
                    chunk = self.recv(piece)
                except Exception:
                    return super().handle_error()
                if not chunk:
                    self.transfer_finished = True
                    return
                self.tot_bytes_received += len(chunk)
                self.file_obj.write(chunk)
                time.sleep(0.05)
                return
            limit = int(fault.get('bytes', 0))
            try:
                chunk = self.recv(self.ac_in_buffer_size)
            except Exception:
                return super().handle_error()
            if not chunk:
                self.transfer_finished = True
                return
            room = max(0, limit - self.tot_bytes_received)
            self.tot_bytes_received += len(chunk)
            self.file_obj.write(chunk[:room])
            if len(chunk) <= room:
                return
            self.cmd_channel.transfer_fault = None
            if fault.get('action') == 'stall':
                self.file_obj.flush()
                time.sleep(float(fault.get('seconds', 3600)))
                self.file_obj.write(chunk[room:])
                return
            # drop: what arrived so far stays in the file; no reply.
            self._resp = ()
            self.file_obj.close()
            self.cmd_channel.close()

        def readable(self):
            # A client opens the data connection's TLS session at once,
            # before the transfer command; pyftpdlib's handler would take
            # that early ClientHello for a hang-up and close the connection.
            if getattr(self, '_ssl_accepting', False):
                return True
            return super().readable()

        # The TLS handler reads through its own handle_read_event (the
        # handshake first); upload faults are for plain connections.
        if args.tls == 'none':
            handle_read_event = handle_read

    class Handler(ControlBase):
        abstracted_fs = BackslashFS
        auth_failed_timeout = 0
        use_sendfile = False
        banner = 'Test FTP server ready.'

        dtp_handler = FaultyDTPHandler
        transfer_fault = None
        vanish = False

        def respond(self, resp, *more, **named):
            if self.vanish:
                self.vanish = False
                self.close()
                return
            return super().respond(resp, *more, **named)

        def pre_process_command(self, line, cmd, arg):
            log.write(line)
            if args.hang_on and cmd == args.hang_on.upper():
                return  # never answer from now on
            def exists(path):
                try:
                    return os.path.exists(self.fs.ftp2fs(self.fs.ftpnorm(path)))
                except Exception:
                    return False

            fault = faults.take(cmd, arg, exists)
            self.transfer_fault = None
            if fault:
                action = fault.get('action', 'reply')
                if action == 'vanish':
                    self.vanish = True
                    return super().pre_process_command(line, cmd, arg)
                if action == 'drip':
                    data = (fault.get('reply', '250 OK.') + '\r\n').encode('utf8')
                    self.socket.setblocking(True)
                    try:
                        for i in range(len(data)):
                            self.socket.send(data[i:i + 1])
                            time.sleep(float(fault.get('seconds', 1)))
                    finally:
                        self.socket.setblocking(False)
                    return
                if action == 'reply':
                    reply = fault.get('reply', '550 Refused by the test.')
                    self.respond(reply)
                    if reply.startswith('421'):
                        self.close_when_done()
                    return
                if cmd in ('STOR', 'RETR'):
                    self.transfer_fault = fault
                elif action == 'drop':
                    self.close()
                    return
                elif action == 'stall':
                    time.sleep(float(fault.get('seconds', 3600)))
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
            fault = self.transfer_fault
            self.transfer_fault = None
            if args.mode != 'drop-retr' and not fault:
                return super().ftp_RETR(file)
            try:
                with open(file, 'rb') as f:
                    data = f.read()
            except OSError as err:
                self.respond('550 %s.' % err.strerror)
                return None
            if fault and fault.get('action') == 'slow':
                producer = SlowProducer(data, float(fault.get('rate', 65536)))
                self.push_dtp_data(producer, isproducer=True, cmd='RETR')
                return file
            if fault:
                count = int(fault.get('bytes', 0))
                stall = float(fault.get('seconds', 3600)) if fault.get('action') == 'stall' else None
            else:
                count, stall = len(data) // 2, None
            self.push_dtp_data(CutProducer(data, count, self, stall), isproducer=True, cmd='RETR')
            return file

    if args.tls != 'none':
        Handler.certfile = args.cert
        Handler.keyfile = args.key
        Handler.tls_control_required = args.tls == 'require'
        Handler.tls_data_required = args.tls == 'require'
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
    parser.add_argument('--faults', default='')
    parser.add_argument('--parent-pid', type=int, default=0)
    parser.add_argument('--tls', default='none', choices=['none', 'offer', 'require'])
    parser.add_argument('--cert', default='')
    parser.add_argument('--key', default='')
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
