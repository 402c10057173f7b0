"""Misuses pelk's types; mypy must refuse it, so the types are not Any."""
import pelk

tag: str = pelk.Board("zbhost").receive(timeout_ms=1).tag
