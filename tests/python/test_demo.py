"""The documentation runs: the end-to-end demonstration and the README's examples."""

import doctest
import io
import os
import pathlib
import re
import subprocess
import sys
import textwrap

import vardex_core as vc

ROOT = pathlib.Path(__file__).resolve().parents[2]


def test_demo_walks_every_step():
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join([str(pathlib.Path(vc.__file__).parent), env.get("PYTHONPATH", "")])
    done = subprocess.run([sys.executable, str(ROOT / "examples" / "demo.py")], capture_output=True, text=True,
                          env=env, timeout=120)
    assert done.returncode == 0 and done.stderr == "", done.stdout + done.stderr
    assert re.findall(r"^(\d)\. ", done.stdout, re.M) == [str(step) for step in range(1, 9)]


def test_readme_examples_run_as_shown():
    text = (ROOT / "README.md").read_text()
    blocks = [textwrap.dedent(m.group(2)) for m in re.finditer(r"^( *)```pycon\n(.*?)^\1```", text, re.M | re.S)]
    test = doctest.DocTestParser().get_doctest("".join(blocks), {}, "README.md", "README.md", 0)
    report = io.StringIO()
    results = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS).run(test, out=report.write)
    assert results.attempted > 40 and results.failed == 0, report.getvalue()
