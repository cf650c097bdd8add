"""buslog for python-can: log any python-can bus durably through the buslog
module (`can.Logger("run.buslog")`) and read the logs back
(`can.LogReader("run.buslog")`); decode their signals with a CAN database
(`buslog.decode(...)`, `python3 -m buslog decode`) and plot them
(`buslog.plot(...)`, `python3 -m buslog plot`); verify that every frame of
a run is in its logs, or its loss recorded (`buslog.verify(...)`,
`python3 -m buslog verify`)."""

__version__ = "0.1.0"  # before the imports: the writer names it in its logs

from .module import Module, ModuleLoadError, OpenError, WriteError, find_module  # noqa: E402
from .reader import BuslogReader, Frames, NotALogError, Record, is_log, iter_records, read_frames  # noqa: E402
from .writer import BuslogWriter  # noqa: E402
# buslog.decode and buslog.plot are the functions; their modules are still
# there for `from buslog.decode import ...`.
from .decode import Row, Summary, decode, signals  # noqa: E402
from .plot import plot  # noqa: E402
from .verify import Verification, VerifyError, verify  # noqa: E402

__all__ = ["Module", "ModuleLoadError", "OpenError", "WriteError", "find_module", "BuslogReader", "BuslogWriter",
           "NotALogError", "Record", "Frames", "is_log", "iter_records", "read_frames", "Row", "Summary", "decode",
           "signals", "plot", "verify", "Verification", "VerifyError"]
