"""The stand-in agent (kova_agent) as a child process driven by its control commands."""

import subprocess


class StandinAgent:
    def __init__(self, executable, *args):
        self._process = subprocess.Popen([executable, *args], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                         text=True)
        ready = self._process.stdout.readline().rstrip("\n").split("\t")
        if ready[0] != "READY":
            self.stop()
            raise RuntimeError("kova_agent did not start: %r" % ready)
        self.proxy = dict(field.split("=", 1) for field in ready[1:])["agent"]
        self._late_answers = 0

    def ok(self, line):
        """The value of an OK answer."""
        [answer] = self._command(line)
        if not answer.startswith("OK"):
            raise RuntimeError("%s: %s" % (line, answer))
        return answer[3:]

    def records(self, line):
        """The records of a listing, as dicts."""
        return [dict(f.split("=", 1) for f in record.split("\t")[1:]) for record in self._command(line)]

    def send_later(self, seconds, line):
        """Sends `line` from a helper process after `seconds`, to reach the agent while
        this process waits inside the binding (which keeps the interpreter lock)."""
        subprocess.Popen(["sh", "-c", 'sleep "$1"; printf "%s\\n" "$2"', "sh", str(seconds), line],
                         stdout=self._process.stdin)
        self._late_answers += 1

    def stop(self):
        if self._process.poll() is None:
            self._process.communicate("quit\n", timeout=10)

    def _command(self, line):
        for _ in range(self._late_answers):
            self._read_answer()
        self._late_answers = 0
        self._process.stdin.write(line + "\n")
        self._process.stdin.flush()
        return self._read_answer()

    def _read_answer(self):
        """One OK/ERR line, or the records of a listing up to its END line."""
        lines = []
        while not lines or lines[-1] != "END":
            line = self._process.stdout.readline()
            if not line:
                raise RuntimeError("kova_agent ended")
            lines.append(line.rstrip("\n"))
            if len(lines) == 1 and line.startswith(("OK", "ERR")):
                return lines
        return lines[:-1]
