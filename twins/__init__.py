"""The native modules' code written in plain Python, step for step: the
reference that the differential tests (tests/) and the benchmarks (bench/)
hold the native modules against. Kept outside both so that either may import
it; not part of the installed package."""
