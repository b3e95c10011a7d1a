#!/usr/bin/env python3
"""Runs a command with no memory that is both writable and executable, as the unit's
MemoryDenyWriteExecute=yes asks: the kernel's own switch (prctl PR_SET_MDWE, Linux 6.3 and later), kept
across exec. Exits 3 when the kernel has no such switch, so that the caller can say so.

Usage: deny-write-execute.py COMMAND [ARGUMENT...]
"""
import ctypes
import os
import sys

PR_SET_MDWE = 65
PR_MDWE_REFUSE_EXEC_GAIN = 1

libc = ctypes.CDLL(None, use_errno=True)
if libc.prctl(PR_SET_MDWE, PR_MDWE_REFUSE_EXEC_GAIN, 0, 0, 0) != 0:
    print("deny-write-execute: this kernel cannot refuse writable executable memory:",
          os.strerror(ctypes.get_errno()), file=sys.stderr)
    sys.exit(3)
os.execvp(sys.argv[1], sys.argv[1:])
