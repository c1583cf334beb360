"""pip install --no-build-isolation . from a fresh clone, into a virtual
environment that sees Debian's packages (--system-site-packages): it builds
through the project's CMake, and the installed package, imported from the
environment rather than the build, passes the module's tests. ctest passes
BRIX_SOURCE_DIR, BRIX_IMPORT and BRIX_ELI."""
import os
import shutil
import subprocess
import sys

import pytest

SOURCE = os.environ.get("BRIX_SOURCE_DIR", os.path.join(os.path.dirname(__file__), ".."))


def test_a_fresh_clone_installs_and_passes_its_tests(tmp_path):
    if shutil.which("git") is None or subprocess.run(
            ["git", "-C", SOURCE, "rev-parse"], capture_output=True).returncode != 0:
        pytest.skip("the sources are not a git checkout to clone")
    clone, venv = tmp_path / "clone", tmp_path / "venv"
    subprocess.run(["git", "clone", "-q", SOURCE, str(clone)], check=True)
    subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", "--without-pip",
                    str(venv)], check=True)
    python = str(venv / "bin" / "python")
    done = subprocess.run([python, "-m", "pip", "install", "-q", "--no-build-isolation",
                           str(clone)], capture_output=True, text=True)
    assert done.returncode == 0, done.stdout + done.stderr
    env = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
    where = subprocess.run([python, "-c", "import brix_eli; print(brix_eli.__file__, "
                            "brix_eli.__version__)"], cwd=tmp_path, env=env, check=True,
                           capture_output=True, text=True).stdout.split()
    assert where[0].startswith(str(venv)) and where[1] == (clone / "VERSION").read_text().strip()
    tests = subprocess.run([python, "-m", "pytest", "-q", "-p", "no:cacheprovider",
                            "--import-mode=importlib",
                            str(clone / "python" / "brix_eli_test.py")], cwd=tmp_path, env=env,
                           capture_output=True, text=True)
    assert tests.returncode == 0, tests.stdout + tests.stderr
