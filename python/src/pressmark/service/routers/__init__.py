"""One router per resource: documents (the native operations), the
compatibility routes, jobs, operations (health, readiness, metrics,
version) and the interactive page."""
