"""The command line's page in the browser: view, and the server of solve --view."""

import argparse
import json
import sys
import time
import webbrowser
from pathlib import Path
from typing import Any, TextIO

from ploxa.cli_files import InputError, read_instance, shown, write_text
from ploxa.view import ViewServer, page_html


def live_view(args: argparse.Namespace, text: bytes) -> ViewServer:
    page = page_html(json.loads(text), None, Path(args.instance).name, live=True)
    return open_page(ViewServer(page, args.port), args.browser, sys.stderr)


def open_page(server: ViewServer, browser: bool, out: TextIO) -> ViewServer:
    server.start()
    print(f"ploxa: the page is at {server.url}", file=out, flush=True)
    if browser:
        webbrowser.open(server.url)
    return server


def serve_until_interrupted(server: ViewServer, code: int) -> int:
    """Keeps the page served until Ctrl-C, then gives `code`."""
    print("ploxa: the page stays served; Ctrl-C to stop", file=sys.stderr, flush=True)
    try:
        while True:
            time.sleep(3600)
    except KeyboardInterrupt:
        return code
    finally:
        server.close()


def run_view(args: argparse.Namespace) -> int:
    documents: list[Any] = []
    for path in (args.instance, args.result):
        try:
            documents.append(None if path is None else json.loads(read_instance(path)))
        except ValueError as error:
            raise InputError(f"{shown(path)}: {error}") from error
    instance, result = documents
    if not isinstance(instance, dict) or not isinstance(instance.get("nodes"), list):
        raise InputError(f"{shown(args.instance)}: not an instance (no list of \"nodes\")")
    if result is not None and not (isinstance(result, dict) and
                                   isinstance(result.get("routes"), list)):
        raise InputError(f"{shown(args.result)}: not a result (no list of \"routes\")")
    page = page_html(instance, result, Path(args.instance).name)
    if args.html:
        write_text(args.html, page)
        return 0
    return serve_until_interrupted(open_page(ViewServer(page, args.port), args.browser,
                                             sys.stdout), 0)
