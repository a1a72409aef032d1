#!/bin/bash
# install.sh: installs the Debian packages of the real readers that the interop test runs.
#   inventor-clients: ivinfo, ivcat (Inventor 2.1)   view3dscene: tovrmlx3d (VRML 2.0)
#   admesh: binary STL                               assimp-utils: assimp (PLY input)
set -eu
apt-get update
apt-get install -y --no-install-recommends inventor-clients view3dscene admesh assimp-utils
dpkg-query -W inventor-clients view3dscene admesh assimp-utils
