"""Fixtures of the native modules' tests (vandrel, toolbar, ploter)."""

import pytest

from tarvinel.stelvane import vandrel
from twins import vandrel as plain_vandrel


@pytest.fixture(params=["native", "plain"])
def module(request):
    """Vandrel native, and its plain-Python twin: each behaviour is checked
    against both, so an expectation is also what the same code in Python does."""
    return vandrel if request.param == "native" else plain_vandrel
