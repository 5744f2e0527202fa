# Sourced by try.sh and run.sh: the one Release tree they both build in, so that trying
# Lumvane and then running it build it once. It is also the tree `cmake --install` takes
# the program from (see the README).
#
# JOBS (default: the number of cores) is how many compiler runs go at once.
RELEASE_TREE=build/release
# What both scripts build: the program, the helpers it runs through pkexec (hosts line,
# /dev/uhid access), the radio hub and the simulated phone. The second script to run
# finds them built.
RELEASE_TARGETS=(lumvane lumvane-hosts-helper lumvane-uhid-helper lumvane-ble-air phone-sim)
JOBS=${JOBS:-$(nproc)}
case $JOBS in
  '' | *[!0-9]* | 0) echo "JOBS must be a whole number above 0, not '$JOBS'" >&2; exit 2 ;;
esac

# build_release: configures the tree when it is new (or was set up otherwise) and builds
# RELEASE_TARGETS.
build_release() {
  source scripts/clang-tree.sh
  forget_other_compiler "$RELEASE_TREE"
  # Let clones in other folders reuse the compiler cache.
  export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
  local cache=$RELEASE_TREE/CMakeCache.txt
  # Configured once; later builds re-run CMake by themselves when a CMakeLists.txt changed.
  if [ ! -f "$RELEASE_TREE/build.ninja" ] || [ ! -f "$cache" ] ||
     ! grep -q '^CMAKE_BUILD_TYPE:STRING=Release$' "$cache" ||
     ! grep -q '^LUMVANE_TESTS:BOOL=OFF$' "$cache"; then
    # clang, as in the test build, so the compiler CI checks is the one this build uses.
    cmake -S . -B "$RELEASE_TREE" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DLUMVANE_TESTS=OFF >/dev/null
  fi
  cmake --build "$RELEASE_TREE" -j "$JOBS" --target "${RELEASE_TARGETS[@]}"
}
