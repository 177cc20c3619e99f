"""The examples in docs/python.md run as shown, on the simulator."""
import doctest
import re
import time
from pathlib import Path

import ombrix_usb as o

DOCS = Path(__file__).resolve().parents[3] / "docs" / "python.md"


def test_shell_session_gives_the_output_shown():
    result = doctest.testfile(str(DOCS), module_relative=False, verbose=False)
    assert result.attempted >= 4 and result.failed == 0


def test_chase_runs_on_a_simulated_interface(capsys, monkeypatch):
    chase = re.search(r"```python\n(import time\n.*?)```", DOCS.read_text(), re.S).group(1)
    device = o.sim.add("CHASE00000000001")
    o.sim.inject(device, bytes([0, 0, 42]) + bytes(31))  # input: channel 1 is 42
    monkeypatch.setattr(time, "sleep", lambda seconds: None)
    exec(compile(chase, str(DOCS), "exec"), {})
    assert capsys.readouterr().out == "CHASE00000000001 type 1\nchannel 1 in: 42\n"
    log = [write.data for write in o.sim.writes(device)]
    assert log[1][1:3] == b"\x10\x02" and log[-1][1:3] == b"\x10\x00"
