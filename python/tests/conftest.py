"""Shared fixtures: the module and buslog-host under test, and a private
copy of the module's folder for each test that needs one.

BUSLOG_MODULE names the module (scripts/test.sh sets it to the POSIX build);
BUSLOG_HOST names buslog-host, by default the one beside the module.
"""

import os
import pathlib
import shutil
import signal
import tempfile

import pytest

pytest.importorskip("can", reason="python-can (Debian's python3-can) is not installed")

# A runner started in the background may hand us SIGINT ignored, and programs
# started from here would inherit that: the tests that stop a logger with
# SIGINT need it delivered.
if signal.getsignal(signal.SIGINT) == signal.SIG_IGN:
    signal.signal(signal.SIGINT, signal.default_int_handler)

_REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def _module_path():
    path = os.environ.get("BUSLOG_MODULE") or os.path.join(_REPO, "build", "posix", "bin", "libbuslog.so")
    return path if os.path.isfile(path) else None


@pytest.fixture(scope="session")
def module_path():
    path = _module_path()
    if path is None:
        pytest.skip("no built module: run scripts/build.sh --posix or set BUSLOG_MODULE")
    return os.path.abspath(path)


@pytest.fixture(scope="session")
def host_path(module_path):
    path = os.environ.get("BUSLOG_HOST") or os.path.join(os.path.dirname(module_path), "buslog-host")
    if not os.path.isfile(path):
        pytest.skip(f"no buslog-host at {path}")
    return path


@pytest.fixture
def module_copy(module_path, tmp_path):
    """A copy of the module in a folder of its own, so that a log the
    module writes beside itself lands in the test's folder."""
    folder = tmp_path / "module"
    folder.mkdir()
    copy = folder / os.path.basename(module_path)
    shutil.copyfile(module_path, copy)
    return str(copy)


@pytest.fixture(autouse=True)
def _module_from_environment(module_path, monkeypatch):
    # Writers opened by can.Logger find the module through the environment.
    monkeypatch.setenv("BUSLOG_MODULE", module_path)


@pytest.fixture
def memory_path(tmp_path):
    """A folder on tmpfs where there is one (/dev/shm), else on the disk:
    for tests of many lines whose point is not the disk's sync."""
    if not os.path.isdir("/dev/shm") or not os.access("/dev/shm", os.W_OK):
        yield tmp_path
        return
    folder = tempfile.mkdtemp(prefix="buslog-test-", dir="/dev/shm")
    try:
        yield pathlib.Path(folder)
    finally:
        shutil.rmtree(folder, ignore_errors=True)
