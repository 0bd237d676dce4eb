# The corpus folder converted to PNG by a Dask LocalCluster of two worker
# processes through qvx.read, against the same conversion in this process:
# the pixels, and the errors of broken files, which cross the processes
# pickled.
import hashlib
import io
import shutil

import numpy as np
from PIL import Image

from conftest import SEEDS


def to_png(path):
    """Decodes one QVX file and answers the PNG's digest (the work each task does)."""
    import qvx

    pixels = qvx.read(path)
    out = io.BytesIO()
    Image.fromarray(pixels).save(out, format="PNG")
    return hashlib.sha256(out.getvalue()).hexdigest()


def settle(future_or_call):
    try:
        return ("png", future_or_call())
    except Exception as error:  # what crossed the process boundary, as it is
        return (type(error).__module__ + "." + type(error).__name__, getattr(error, "kind", None),
                getattr(error, "reason", None))


def test_a_local_cluster_converts_the_corpus_as_one_process_does(corpus, tmp_path):
    from distributed import Client, LocalCluster

    folder = tmp_path / "folder"
    folder.mkdir()
    for name, (path, _) in corpus.items():
        shutil.copy(path, folder / (name + ".qvx"))
    for seed in sorted(SEEDS.glob("b-*.qvx")) + sorted(SEEDS.glob("edge-*.qvx")):
        shutil.copy(seed, folder / seed.name)
    files = sorted(str(p) for p in folder.iterdir())

    here = {f: settle(lambda f=f: to_png(f)) for f in files}
    assert sum(r[0] == "png" for r in here.values()) >= len(corpus)
    assert any(r[0] == "qvx._errors.QvxError" for r in here.values())

    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                      dashboard_address=None) as cluster, Client(cluster) as client:
        assert len(client.scheduler_info()["workers"]) == 2
        futures = client.map(to_png, files, pure=False)
        there = {f: settle(fut.result) for f, fut in zip(files, futures)}
        workers = {w for _, w in client.who_has(futures).items() for w in w}
    assert there == here
    assert len(workers) == 2, "one worker did all the work"
