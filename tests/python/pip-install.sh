#!/usr/bin/env bash
# The qvx package as pip installs it, offline, from a copy of the sources:
# into a folder (--target) and into a virtual environment that sees the
# system's packages; each then reads a sample through NumPy and Pillow.
#   pip-install.sh PYTHON SOURCE_DIR WORK_DIR
set -euo pipefail
python=$1 src=$2
rm -rf "$3" && mkdir -p "$3/tree" && work=$(cd "$3" && pwd)
# The package's folder and the core beside it, as in the repository.
cp -r "$src/python" "$src/decode" "$src/encode" "$work/tree/"
rm -rf "$work/tree/python/build" "$work/tree/python/"*.egg-info
export PIP_NO_INDEX=1 PIP_DISABLE_PIP_VERSION_CHECK=1 PIP_ROOT_USER_ACTION=ignore
unset PYTHONPATH
check='import sys, qvx, numpy
from PIL import Image
assert qvx.__file__.startswith(sys.argv[1]), qvx.__file__
a = qvx.read(sys.argv[2])
b = numpy.asarray(Image.open(sys.argv[2]).convert("RGB"))
assert a.shape == (120, 160, 3) and (a == b).all()
print("ok", qvx.__file__)'

"$python" -m pip install -q --no-build-isolation --target "$work/target" "$work/tree/python"
PYTHONPATH="$work/target" "$python" -c "$check" "$work/target" "$src/samples/card24.qvx"

if "$python" -m venv --system-site-packages "$work/venv" 2>"$work/venv.err"; then
  "$work/venv/bin/python" -m pip install -q --no-build-isolation "$work/tree/python"
  "$work/venv/bin/python" -c "$check" "$work/venv" "$src/samples/card24.qvx"
else
  echo "pip-install: no venv module (python3-venv); the virtual environment is not tried" >&2
  cat "$work/venv.err" >&2
  exit 1
fi
