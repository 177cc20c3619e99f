"""Finding the library, and the one error that says where it looked."""
import os
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

import ombrix_usb as o

PACKAGE = Path(o.__file__).resolve().parent


def run(code: str, tmp_path: Path, **environment: str) -> subprocess.CompletedProcess:
    """Runs code in a fresh interpreter on a copy of the package outside the
    source tree, so that only what the test sets can be found."""
    shutil.copytree(PACKAGE, tmp_path / "ombrix_usb", ignore=shutil.ignore_patterns("__pycache__"))
    env = {k: v for k, v in os.environ.items() if k not in ("OMBRIX_USB_LIBRARY", "LD_LIBRARY_PATH")}
    env.update(environment, PYTHONPATH=str(tmp_path))
    return subprocess.run([sys.executable, "-c", code], env=env, cwd=tmp_path,
                          capture_output=True, text=True, timeout=60)


class TestLoading:
    def test_missing_library_names_every_place_tried(self, tmp_path):
        result = run("import ombrix_usb; ombrix_usb.interfaces()", tmp_path)
        assert result.returncode != 0
        assert "LibraryNotFound" in result.stderr
        assert str(tmp_path / "ombrix_usb" / "libombrix_usb.so.0") + ": no such file" in result.stderr
        assert "libombrix_usb.so.0 on the system's library search path" in result.stderr
        assert "OMBRIX_USB_LIBRARY" in result.stderr

    def test_environment_variable_is_the_only_place_used(self, tmp_path):
        result = run("import ombrix_usb; ombrix_usb.interfaces()", tmp_path,
                     OMBRIX_USB_LIBRARY=str(tmp_path / "nowhere.so"))
        assert result.returncode != 0
        assert f"{tmp_path / 'nowhere.so'}: no such file" in result.stderr
        assert "search path" not in result.stderr

    def test_library_beside_the_package_is_found(self, tmp_path):
        simulator = o.library_path()
        code = ("import shutil, ombrix_usb as o; "
                f"shutil.copy({simulator!r}, o.__path__[0] + '/libombrix_usb_sim.so.0'); "
                "o.sim.add('BESIDE0000000001'); print(o.library_path(), o.interfaces()[0].serial)")
        result = run(code, tmp_path)
        assert result.returncode == 0, result.stderr
        assert result.stdout.split() == [str(tmp_path / "ombrix_usb" / "libombrix_usb_sim.so.0"),
                                         "BESIDE0000000001"]

    def test_a_library_of_another_kind_is_refused(self, tmp_path):
        result = run("import ombrix_usb; ombrix_usb.load('libc.so.6')", tmp_path)
        assert "does not export GetAllConnectedInterfaces" in result.stderr

    def test_sim_on_the_real_library_explains_what_to_do(self, tmp_path):
        real = Path(o.library_path()).with_name("libombrix_usb.so.0")
        if not real.exists():
            assert not os.environ.get("OMBRIX_PYTHON_TIER"), f"{real} was not built"
            pytest.skip("the real library is not part of this build")
        result = run("import ombrix_usb as o; o.sim.add('X' * 16)", tmp_path,
                     OMBRIX_USB_LIBRARY=str(real))
        assert "ombrix_usb.sim needs the simulator library" in result.stderr

    def test_a_second_library_is_refused(self, tmp_path):
        with pytest.raises(o.OmbrixError, match="already loaded"):
            o.load(str(tmp_path / "other.so"))
        o.load(o.library_path())  # the same one again is fine
