"""Runs a blockwise computation with whichever Dask scheduler is active and reports each
finished block, in the calling thread, as soon as it is done.

Reporting in the calling thread matters: the resumable Zarr writer records a block as complete
from there, so the record is only ever written by one thread of one process, never by the
workers that compute the blocks.
"""

from __future__ import annotations

import time
from collections.abc import Callable, Hashable, Mapping, Sequence
from typing import Any

import dask
from dask.callbacks import Callback

OnBlock = Callable[[int, int], None]


class BlockProgress:
    """A tqdm bar counting finished blocks out of all, with matrix cells per second; a no-op
    when disabled. Blocks finished by an earlier, interrupted run start the count."""

    def __init__(self, *, total: int, done: int, description: str, enabled: bool) -> None:
        self._bar: Any = None
        if not enabled:
            return
        try:
            from tqdm.auto import tqdm
        except ImportError as error:
            raise ImportError("progress=True needs tqdm: pip install 'tsmoo-kernels[dask]'") from error
        self._format_rate = tqdm.format_sizeof
        self._bar = tqdm(total=total, initial=done, unit="block", desc=description, dynamic_ncols=True)
        self._cells = 0
        self._start = time.monotonic()

    def advance(self, cells: int) -> None:
        if self._bar is None:
            return
        self._cells += cells
        rate = self._cells / max(time.monotonic() - self._start, 1e-9)
        self._bar.set_postfix_str(f"{self._format_rate(rate)} cells/s", refresh=False)
        self._bar.update(1)

    def close(self) -> None:
        if self._bar is not None:
            self._bar.close()


class _OnFinished(Callback):
    """Calls on_block for the watched keys as the local scheduler finishes them; Dask runs
    post-task callbacks in the thread that called compute."""

    def __init__(self, blocks: Mapping[Hashable, tuple[int, int]], on_block: OnBlock) -> None:
        super().__init__()
        self._blocks = blocks
        self._on_block = on_block

    def _posttask(self, key: Hashable, result: object, dsk: object, state: object, worker_id: object) -> None:
        where = self._blocks.get(key)
        if where is not None:
            self._on_block(*where)


def _distributed_client(collections: Sequence[Any]) -> Any:
    """The dask.distributed client that would run these collections, or None for a local
    scheduler (threads, processes or synchronous)."""
    scheduler = dask.base.get_scheduler(collections=collections)
    owner = getattr(scheduler, "__self__", None)
    try:
        from distributed import Client
    except ImportError:
        return None
    return owner if isinstance(owner, Client) else None


def run_blocks(collections: Sequence[Any], blocks: Mapping[Hashable, tuple[int, int]], on_block: OnBlock) -> tuple[Any, ...]:
    """Computes the collections and returns their results like ``dask.compute``, calling
    ``on_block(i, j)`` in this thread once the task with a key in ``blocks`` has finished.

    On a cluster the collections are persisted and their futures followed as they complete;
    if this thread is interrupted, the futures are cancelled so the cluster stops working on
    an abandoned run.
    """
    client = _distributed_client(collections)
    if client is None:
        with _OnFinished(blocks, on_block):
            return tuple(dask.compute(*collections))

    from distributed import as_completed, futures_of

    persisted = client.persist(list(collections))
    futures = futures_of(persisted)
    try:
        for future in as_completed([f for f in futures if f.key in blocks]):
            if future.status != "finished":
                future.result()  # raises the block's own error
            on_block(*blocks[future.key])
        return tuple(dask.compute(*persisted))
    except BaseException:
        client.cancel(futures)
        raise
