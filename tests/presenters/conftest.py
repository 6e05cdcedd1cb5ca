"""Fixtures of the presenters' tests: none shared yet; what one module alone
needs stays in it."""
