"""buslog for python-can: log any python-can bus durably through the buslog
module (`can.Logger("run.buslog")`) and read the logs back
(`can.LogReader("run.buslog")`)."""

from .module import Module, ModuleLoadError, OpenError, WriteError, find_module
from .reader import BuslogReader, NotALogError, Record, is_log, iter_records
from .writer import BuslogWriter

__all__ = ["Module", "ModuleLoadError", "OpenError", "WriteError", "find_module", "BuslogReader", "BuslogWriter",
           "NotALogError", "Record", "is_log", "iter_records"]
__version__ = "0.1.0"
