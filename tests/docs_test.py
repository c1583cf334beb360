"""The runnable blocks of README.md and docs/*.md (fenced "sh run") run with bash, each in a fresh
folder holding a copy of examples/, the programs first on PATH; their relative links resolve."""
import importlib.util
import os
import pathlib
import re
import shutil
import subprocess

import pytest

SOURCE = pathlib.Path(__file__).resolve().parent.parent
DOCS = [SOURCE / "README.md", *sorted((SOURCE / "docs").glob("*.md"))]
PROGRAMS = {"brix_eli": os.environ.get("BRIX_ELI"), "brix_gen": os.environ.get("BRIX_GEN"),
            "brix_import": os.environ.get("BRIX_IMPORT"), "brix_run": SOURCE / "workflow/brix_run",
            "brix_collect": SOURCE / "collect/brix_collect"}
MODULE = importlib.util.find_spec("brix_eli")  # brix_run reads brix_eli's own files through it
HAVE = {"brix_import": PROGRAMS["brix_import"], "ncgen": shutil.which("ncgen"), "python3": MODULE,
        "brix_run": MODULE}
BLOCKS = [pytest.param(m[1], id=f"{d.name}:{d.read_text().count(chr(10), 0, m.start()) + 1}")
          for d in DOCS for m in re.finditer(r"^```sh run\n(.*?)^```$", d.read_text(), re.M | re.S)]


@pytest.mark.parametrize("block", BLOCKS)
def test_block_runs(block, tmp_path):
    if missing := [name for name, have in HAVE.items() if not have and name in block]:
        pytest.skip(f"missing: {', '.join(missing)}")
    (tmp_path / "bin").mkdir()
    for name, path in ((name, path) for name, path in PROGRAMS.items() if path):
        (tmp_path / "bin" / name).symlink_to(path)
    shutil.copytree(SOURCE / "examples", tmp_path / "run/examples", ignore=shutil.ignore_patterns("out"))
    env = dict(os.environ, PATH=f"{tmp_path / 'bin'}:{os.environ['PATH']}")
    done = subprocess.run(["bash", "-c", "set -euo pipefail\n" + block], cwd=tmp_path / "run",
                          env=env, capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stdout + done.stderr


def test_relative_links_resolve():
    assert len(BLOCKS) >= 5, "the runnable blocks are not found"
    broken = [f"{doc.name}: {link}" for doc in DOCS
              for link in re.findall(r"\]\((?![a-z]+:)([^)\s#]+)", doc.read_text())
              if not (doc.parent / link).exists()]
    assert not broken
