#!/usr/bin/env python3
"""The service's table of settings in docs/operations.md, made from the settings class.

    scripts/readme-settings.py          rewrites the table in docs/operations.md
    scripts/readme-settings.py --check  fails when the table is stale

The settings module is loaded from its file: no build is needed.
"""

import importlib.util
import pathlib
import sys

ROOT = pathlib.Path(__file__).resolve().parents[1]
CONFIG = ROOT / "python" / "src" / "pressmark" / "service" / "config.py"
GUIDE = ROOT / "docs" / "operations.md"


def main(argv: list) -> int:
    found = importlib.util.spec_from_file_location("pressmark_service_config", CONFIG)
    assert found and found.loader
    config = importlib.util.module_from_spec(found)
    found.loader.exec_module(config)
    text = GUIDE.read_text()
    made = config.with_settings_table(text)
    if made is None:
        print("docs/operations.md has no settings table", file=sys.stderr)
        return 1
    if made == text:
        return 0
    if "--check" in argv:
        print("docs/operations.md's settings table is stale: run scripts/readme-settings.py", file=sys.stderr)
        return 1
    GUIDE.write_text(made)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
