"""The stand-in agent (kova_agent) as a child process driven through its control
commands."""

import subprocess


class StandinAgent:
    """One kova_agent process on loopback. Commands go to its standard input and
    their answers come from its standard output; commands may also be sent later by
    a helper process (send_later) while this process is blocked in the binding."""

    def __init__(self, executable, *args):
        self._process = subprocess.Popen(
            [executable, *args], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        ready = self._process.stdout.readline().rstrip("\n").split("\t")
        if ready[0] != "READY":
            self.stop()
            raise RuntimeError("kova_agent did not start: %r" % ready)
        self.fields = dict(field.split("=", 1) for field in ready[1:])
        self._late_answers = 0

    @property
    def proxy(self):
        return self.fields["agent"]

    def command(self, line):
        """The answer lines of one command: one OK/ERR line, or the records of a
        listing without its END line."""
        self._collect_late_answers()
        self._send(line)
        return self._read_answer()

    def ok(self, line):
        answer = self.command(line)
        if not answer or not answer[0].startswith("OK"):
            raise RuntimeError("%s: %r" % (line, answer))
        return answer[0][3:]

    def records(self, line):
        """The records of a listing as dicts."""
        return [dict(f.split("=", 1) for f in record.split("\t")[1:]) for record in self.command(line)]

    def send_later(self, seconds, line):
        """Sends `line` after `seconds` from a helper process, so that it reaches the
        agent while this process waits inside the binding (which keeps the
        interpreter lock). Its answer is read before the next command."""
        subprocess.Popen(["sh", "-c", 'sleep "$1"; printf "%s\\n" "$2"', "sh", str(seconds), line],
                         stdout=self._process.stdin)
        self._late_answers += 1

    def stop(self):
        if self._process.poll() is None:
            try:
                self._send("quit")
                self._process.wait(timeout=10)
            except (OSError, subprocess.TimeoutExpired):
                self._process.kill()
                self._process.wait()

    def _send(self, line):
        self._process.stdin.write(line + "\n")
        self._process.stdin.flush()

    def _read_answer(self):
        first = self._process.stdout.readline().rstrip("\n")
        if first.startswith(("OK", "ERR")) or not first:
            return [first]
        lines = [first]
        while lines[-1] != "END":
            lines.append(self._process.stdout.readline().rstrip("\n"))
        return lines[:-1]

    def _collect_late_answers(self):
        while self._late_answers:
            self._late_answers -= 1
            answer = self._read_answer()
            if not answer[0].startswith("OK"):
                raise RuntimeError("late command failed: %r" % answer)

