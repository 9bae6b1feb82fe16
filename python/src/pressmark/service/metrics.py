"""Prometheus metrics of the service, in a registry of its own."""

from __future__ import annotations

import time

from prometheus_client import CollectorRegistry, Counter, Gauge, Histogram, generate_latest

from .store import Job


class Metrics:
    def __init__(self) -> None:
        r = self.registry = CollectorRegistry()
        self.requests = Counter("pressmark_requests", "HTTP requests answered", ["route", "status"], registry=r)
        self.queue_depth = Gauge("pressmark_queue_depth", "Jobs waiting to run", ["queue"], registry=r)
        self.wait = Histogram("pressmark_job_wait_seconds", "Time jobs waited before running", ["route"],
                              registry=r)
        self.run = Histogram("pressmark_job_run_seconds", "Time jobs ran", ["route", "outcome"], registry=r,
                             buckets=(0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10, 30, 60, 120, 300))
        self.jobs = Counter("pressmark_jobs", "Jobs finished", ["route", "outcome"], registry=r)
        self.documents = Counter("pressmark_documents_converted", "Documents converted to PDF or PostScript",
                                 registry=r)
        self.pool = Gauge("pressmark_office_pool_size", "Offices in this host's pool", registry=r)
        self.restarts = Gauge("pressmark_office_restarts", "Office restarts reported by the office service",
                              registry=r)
        self.workers = Gauge("pressmark_workers", "Jobs that can run at once", registry=r)

    def observe_wait(self, job: Job) -> None:
        self.wait.labels(job.op).observe(max(0.0, time.time() - job.created))

    def finished(self, job: Job) -> None:
        outcome = job.status
        self.jobs.labels(job.op, outcome).inc()
        if job.started and job.finished:
            self.run.labels(job.op, outcome).observe(max(0.0, job.finished - job.started))
        if job.op == "convert" and outcome == "done":
            self.documents.inc(sum(len(v) for v in job.inputs.values()))

    def text(self) -> bytes:
        return generate_latest(self.registry)
