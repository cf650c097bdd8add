"""buslog.verify and python3 -m buslog verify: the reader library's
verification, the same verdicts as buslog-host verify (the table of
made-up runs in tests/host/verify_test.py, read again here)."""
import importlib
import importlib.util
import json
import os
import subprocess
import sys

import pytest

import buslog

# The module, not the function buslog.verify that the package exports.
verify_module = importlib.import_module("buslog.verify")
HERE = os.path.dirname(os.path.abspath(__file__))
spec = importlib.util.spec_from_file_location("verify_cases", os.path.join(HERE, "..", "..", "tests", "host",
                                                                            "verify_test.py"))


@pytest.fixture(scope="module")
def cases():
    os.environ.setdefault("BUSLOG_HOST", "buslog-host")
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def test_every_verdict_as_buslog_host_gives_it(cases, tmp_path):
    for name, files, status, said in cases.CASES:
        folder = str(tmp_path / name.replace(" ", "-").replace("'", ""))
        paths = cases.make_logs(folder, files)
        result = buslog.verify(list(reversed(paths)))
        assert result.verdict == status, name
        # The report names the files by the paths it was given.
        text = result.text().replace(folder + os.sep, "")
        for line in said:
            assert line in text, (name, line, text)


def test_gaps_drops_and_files_as_objects(cases, tmp_path):
    paths = cases.make_logs(str(tmp_path), {"run.buslog": [cases.START, cases.WRITER] + cases.frames(1, 2)
                                 + [cases.record("lost 3-4 No space left on device"), cases.record("dropped 2 2 can1")]
                                 + cases.frames(5, 6)})
    result = buslog.verify(paths)
    assert (result.verdict, result.numbered, result.present, result.lost, result.dropped) == (1, 6, 4, 2, 2)
    assert result.gaps == [verify_module.Gap(3, 4, "lost", "No space left on device")]
    assert [(d.interface, d.count, d.line) for d in result.drops] == [("can1", 2, 6)]
    assert [(f.first_frame, f.last_frame, f.frames, f.records, f.cut_end) for f in result.files] == [(1, 6, 4, 2, False)]
    assert json.loads(result.json())["gaps"][0]["cause"] == "lost"


def test_a_folder_and_an_unreadable_log(cases, tmp_path):
    cases.make_logs(str(tmp_path / "run"), {"run-002.buslog": [cases.START, cases.WRITER, cases.record("removed 1-3")]
                                       + cases.frames(4, 5)})
    assert buslog.verify(str(tmp_path / "run")).verdict == 0
    with pytest.raises(buslog.VerifyError, match="no-such.buslog"):
        buslog.verify(str(tmp_path / "no-such.buslog"))


@pytest.mark.parametrize("form", [[], ["--csv"], ["--json"]])
def test_command_line_exit_status_is_the_verdict(cases, tmp_path, form):
    paths = cases.make_logs(str(tmp_path), {"run.buslog": [cases.START, cases.WRITER] + cases.frames(1, 2) + cases.frames(5, 6)})
    result = subprocess.run([sys.executable, "-m", "buslog", "verify"] + paths + form, capture_output=True, text=True)
    assert result.returncode == 3, result.stderr
    assert "unexplained" in result.stdout
    missing = subprocess.run([sys.executable, "-m", "buslog", "verify", str(tmp_path / "none.buslog")],
                             capture_output=True, text=True)
    assert missing.returncode == 3 and "none.buslog" in missing.stderr
