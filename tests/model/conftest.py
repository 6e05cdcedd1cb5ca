"""Fixtures of the data model's tests: none shared yet; what one module alone
needs stays in it."""
