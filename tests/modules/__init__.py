"""Tests of the three native modules (vandrel, toolbar, ploter) as their host
drives them: behaviour, fuzzing against the plain-Python twins, leaks,
reentrancy, and the host's stand-ins."""
