# The pictures the Python tests share: every BMP Suite picture that tavko
# stores as QVX, and the bundled samples, each with the pixels tavko
# decode gives for it.
import os
import subprocess
from pathlib import Path

import numpy as np
import pytest
from PIL import Image

SOURCE = Path(os.environ.get("TAVKO_SOURCE_DIR", Path(__file__).resolve().parents[2]))
CORPUS = Path(os.environ.get("TAVKO_CORPUS_DIR", SOURCE / "tests" / "data" / "bmpsuite"))
TOOL = os.environ.get("TAVKO_TOOL", str(SOURCE / "build" / "native" / "tavko"))
SEEDS = SOURCE / "fuzz" / "seeds"


def tavko(*args):
    return subprocess.run([TOOL, *map(str, args)], capture_output=True, text=True)


def decoded_by_tavko(qvx, work):
    png = work / (qvx.stem + ".png")
    run = tavko("decode", qvx, png)
    assert run.returncode == 0, run.stderr
    with Image.open(png) as im:
        return np.asarray(im.convert("RGB"))


@pytest.fixture(scope="session")
def corpus(tmp_path_factory):
    """name -> (QVX file, tavko decode's RGB pixels)."""
    if not os.access(TOOL, os.X_OK):
        pytest.skip("tavko is not built (TAVKO_TOOL=%s)" % TOOL)
    work = tmp_path_factory.mktemp("corpus")
    pictures = {}
    for bmp in sorted((CORPUS / "g").glob("*.bmp")):
        qvx = work / (bmp.stem + ".qvx")
        if tavko("encode", bmp, qvx).returncode == 0:
            pictures[bmp.stem] = qvx
    assert len(pictures) >= 25, "tavko encode stored only %d corpus pictures" % len(pictures)
    for sample in sorted((SOURCE / "samples").glob("*.qvx")):
        pictures["sample-" + sample.stem] = sample
    return {name: (qvx, decoded_by_tavko(qvx, work)) for name, qvx in pictures.items()}
