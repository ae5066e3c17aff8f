"""Helpers shared by the end-to-end tests: Wine machines (wine), KstTrace and
KstProbe output (escape, probe), .reg files (regfile), PE resources (pe) and
the installer's promise of a safe machine (safe_state)."""
from .wine import (Build, HarnessError, PrefixCache, Result, TraceLine, WineMachine,  # noqa: F401
                   WineToolError, winpath)
