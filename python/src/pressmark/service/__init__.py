"""The Pressmark conversion service: the component's work over HTTP.

`pressmark serve` runs it (python3 -m pressmark.service serve), embedded by
default, or as the gateway of a Celery farm with --broker; `pressmark worker
--broker URL` runs a farm worker. docs/operations.md describes the service.
"""
