#!/usr/bin/env python3
"""Types the README's walkthrough into an interactive bash, as a person pastes it.

Every ```sh block of README.md is pasted, in order, into one `bash -i` that runs on a
pseudo-terminal of its own (job control on, the blocks' background programs share the
terminal), at the top of the source tree, with B naming the build folder. Passes when
the blocks pair the phone and answer twice (curl and the native-messaging host), the stop
block leaves no process behind, and the clean-up block removes the throw-away home and
gives the shell its own HOME back.

    readme_walkthrough.py SOURCE_DIR BUILD_DIR
"""
import glob
import os
import pty
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

# A block that has not finished after this long hangs (the pairing block takes a few
# seconds; a loaded 2-core machine is given plenty more).
BLOCK_SECONDS = 150
PASSWORD_B64 = '"3":{"str":"Y29ycmVjdCBob3JzZSBiYXR0ZXJ5IHN0YXBsZQ=="}'


class Failure(Exception):
    pass


class Terminal:
    """bash -i on the slave side of a pseudo-terminal; everything it shows is kept."""

    def __init__(self, cwd, env, log_path):
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            try:
                os.chdir(cwd)
                os.execve("/bin/bash", ["bash", "--norc", "--noprofile", "-i"], env)
            finally:
                os._exit(127)
        self.screen = b""
        self.log = open(log_path, "wb")

    def pump(self, seconds):
        """Reads what the terminal shows for up to `seconds`."""
        end = time.monotonic() + seconds
        while True:
            left = end - time.monotonic()
            if left <= 0:
                return
            ready, _, _ = select.select([self.fd], [], [], left)
            if not ready:
                return
            try:
                data = os.read(self.fd, 65536)
            except OSError:  # the shell is gone
                return
            if not data:
                return
            self.screen += data
            self.log.write(data)
            self.log.flush()

    def type(self, text):
        data = text.encode()
        while data:
            # A full input queue makes the write wait: keep reading meanwhile.
            _, writable, _ = select.select([self.fd], [self.fd], [], 1)
            if writable:
                written = os.write(self.fd, data[:512])
                data = data[written:]
            self.pump(0)

    def wait_for(self, pattern, seconds):
        """Waits until the screen's text shows the regular expression (multi-line mode);
        returns the match."""
        end = time.monotonic() + seconds
        regex = re.compile(pattern, re.M)
        while True:
            match = regex.search(self.text())
            if match or time.monotonic() >= end:
                return match
            self.pump(min(0.2, max(0.0, end - time.monotonic())))

    def text(self):
        """The screen as lines, without the terminal's control sequences."""
        text = self.screen.decode(errors="replace")
        text = re.sub(r"\x1b\[[0-9;?]*[A-Za-z]", "", text)
        return text.replace("\r\n", "\n").replace("\r", "")


def session_processes(session):
    """The processes of the terminal's session that still run: pid, state, command."""
    out = subprocess.run(["ps", "-s", str(session), "-o", "pid=,stat=,args="],
                         capture_output=True, text=True).stdout
    rows = []
    for line in out.splitlines():
        parts = line.split(None, 2)
        if len(parts) == 3 and not parts[1].startswith("Z"):
            rows.append((int(parts[0]), parts[1], parts[2]))
    return rows


def sh_blocks(readme):
    blocks, current = [], None
    for line in open(readme, encoding="utf-8").read().splitlines():
        if line == "```sh":
            current = []
        elif line == "```" and current is not None:
            blocks.append("\n".join(current) + "\n")
            current = None
        elif current is not None:
            current.append(line)
    return blocks


def main():
    source = os.path.abspath(sys.argv[1])
    build = os.path.abspath(sys.argv[2])
    work = tempfile.mkdtemp(prefix="lumvane-readme.")
    try:
        run(source, build, work)
    except Failure as failure:
        print("FAIL: %s" % failure, file=sys.stderr)
        return 1
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("PASS")
    return 0


def run(source, build, work):
    blocks = sh_blocks(os.path.join(source, "README.md"))
    if len(blocks) < 6:
        raise Failure("only %d sh blocks found in README.md" % len(blocks))
    # The blocks' `mktemp -d` makes the throw-away home in here; the person's own home is
    # another folder, which must come back and stay untouched.
    tmp = os.path.join(work, "tmp")
    own_home = os.path.join(work, "own-home")
    os.mkdir(tmp)
    os.mkdir(own_home)
    env = {
        "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
        "HOME": own_home,
        "TMPDIR": tmp,
        "TERM": "xterm",
        "LANG": "C.UTF-8",
        "B": build,
        "PS1": "you@desk$ ",
        "XDG_DATA_HOME": os.path.join(own_home, "own-data"),
    }
    for name in ("ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"):
        if name in os.environ:
            env[name] = os.environ[name]
    terminal = Terminal(source, env, os.path.join(work, "terminal.log"))
    session = terminal.pid
    try:
        drive(terminal, blocks, build, tmp, own_home, session)
    except Failure:
        print(terminal.text())
        print("--- processes of the session:")
        for pid, state, args in session_processes(session):
            print("%d %s %s" % (pid, state, args))
        raise
    finally:
        for pid, _, _ in session_processes(session):
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        try:
            os.waitpid(terminal.pid, 0)
        except ChildProcessError:
            pass
        os.close(terminal.fd)
    print(terminal.text())
    check_pair_url_errors(build, work)


def drive(terminal, blocks, build, tmp, own_home, session):
    if not terminal.wait_for(r"^you@desk\$ ", 30):
        raise Failure("the interactive shell showed no prompt")
    terminal.type("case $- in *m*) printf '%s\\n' job-control-on;; esac\n")
    if not terminal.wait_for(r"^job-control-on$", 30):
        raise Failure("the shell has no job control")

    throwaway = None
    for number, block in enumerate(blocks, 1):
        last = number == len(blocks)
        if last:
            throwaway = check_before_clean_up(tmp, own_home, session, terminal)
        # Pasted whole, as from the browser; the marker line after it shows when the
        # block has finished (its output, not its echo, reads "block-N done").
        terminal.type(block)
        terminal.type("printf '%%s %%s\\n' block-%d done\n" % number)
        end = time.monotonic() + BLOCK_SECONDS
        while not terminal.wait_for(r"^block-%d done$" % number, 1):
            # A background program that reads the terminal is stopped by it (SIGTTIN),
            # and the block waits for it for ever.
            stopped = [p for p in session_processes(session) if p[1].startswith("T")]
            if stopped:
                raise Failure("block %d: stopped by the terminal: %s" % (number, stopped))
            if time.monotonic() > end:
                raise Failure("block %d did not finish within %d s" % (number, BLOCK_SECONDS))
        if re.search(r"\+ +Stopped", terminal.text()):
            raise Failure("a program of the walkthrough was stopped by the terminal")

    out = terminal.text()
    if not re.search(r"^lumvane: paired", out, re.M):
        raise Failure("no pairing")
    if not re.search(r"^client secret: [0-9A-Za-z+/=_-]{8,}$", out, re.M):
        raise Failure("no client secret")
    # The replies themselves, not the README's comment lines echoed by the terminal.
    answers = len([line for line in out.splitlines()
                   if line.startswith('[1,"getLoginData",2,0,') and PASSWORD_B64 in line])
    if answers != 2:
        raise Failure("expected the login twice (curl and native messaging), got %d" % answers)

    # After the clean-up: the throw-away home is gone and the shell has its own back.
    terminal.type("printf 'after: %s|%s|%s\\n' \"$HOME\" \"$XDG_DATA_HOME\" "
                  "\"${DBUS_SESSION_BUS_ADDRESS-unset}\"\n")
    match = terminal.wait_for(r"^after: (.*)$", 30)
    expected = "%s|%s|unset" % (own_home, os.path.join(own_home, "own-data"))
    if not match or match.group(1) != expected:
        raise Failure("the shell's environment after the walkthrough is %r, not %r"
                      % (match.group(1) if match else None, expected))
    if os.path.exists(throwaway):
        raise Failure("the throw-away home %s is still there" % throwaway)
    if os.listdir(own_home):
        raise Failure("the walkthrough wrote into the person's own home: %s"
                      % os.listdir(own_home))
    terminal.type("exit\n")
    terminal.pump(2)


def check_before_clean_up(tmp, own_home, session, terminal):
    """After the stop block: nothing runs, and the session's traces are in the throw-away
    home. Returns that home."""
    left = [p for p in session_processes(session) if p[0] != session]
    if left:
        raise Failure("processes of the walkthrough still run after its stop block: %s" % left)
    settings = glob.glob(os.path.join(tmp, "*", ".local/share/Lumvane/settings.tbnlmveprf"))
    if not settings:
        raise Failure("no settings file in the throw-away home")
    home = settings[0][: -len("/.local/share/Lumvane/settings.tbnlmveprf")]
    # A first start, a pairing and a few answers are no faults: no error lines in the log,
    # and no backup folder before the first backup.
    for log in glob.glob(os.path.join(home, ".local/share/Lumvane/logs/*")):
        with open(log, errors="replace") as f:
            errors = [line for line in f if "| ERRR |" in line]
        if errors:
            raise Failure("error lines in the log: %s" % errors[:3])
    if os.path.exists(os.path.join(home, "Documents/Lumvane")):
        raise Failure("the backup folder was made without a backup")
    return home


def check_pair_url_errors(build, work):
    # Read too early, the URL is empty: phone-sim must say so instead of waiting for ever.
    phone = os.path.join(build, "tests/phone-sim/phone-sim")
    for url in ("", "https://lumvane.io/auth/appinstall.html?client=x"):
        result = subprocess.run([phone, "--air", os.path.join(work, "no-radio.sock"),
                                 "--pair-url", url], capture_output=True, text=True,
                                timeout=60, stdin=subprocess.DEVNULL)
        if result.returncode != 2:
            raise Failure("phone-sim --pair-url %r ended with %d, not 2" % (url, result.returncode))
        if "--pair-url is" not in result.stderr + result.stdout:
            raise Failure("phone-sim did not say why: %s" % result.stderr)


if __name__ == "__main__":
    sys.exit(main())
