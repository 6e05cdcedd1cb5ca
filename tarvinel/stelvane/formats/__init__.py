"""Readers of the formats a source's bytes may come in."""
