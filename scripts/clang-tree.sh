# Sourced by the build scripts. A build tree configured with another compiler starts
# afresh: CMake would otherwise keep that compiler and silently drop the options given.
forget_other_compiler() {
  local tree=$1
  if [ -f "$tree/CMakeCache.txt" ] && ! grep -q '^CMAKE_CXX_COMPILER:.*clang' "$tree/CMakeCache.txt"; then
    rm -rf "$tree/CMakeCache.txt" "$tree/CMakeFiles"
  fi
}
