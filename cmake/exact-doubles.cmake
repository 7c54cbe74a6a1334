# Tick arithmetic must be plain IEEE 754 double arithmetic on every target.
# Where the compiler would evaluate doubles with excess precision (32-bit x86
# with x87 registers, FLT_EVAL_METHOD 2), SSE2 math makes it exact; where no
# flag does, the build stops. The code checks the same with a static_assert.
include(CheckCXXSourceCompiles)
set(exact_doubles_source "#include <cfloat>
static_assert(FLT_EVAL_METHOD == 0, \"excess precision\");
int main() { return 0; }")
check_cxx_source_compiles("${exact_doubles_source}" MID2NOLT_EXACT_DOUBLES)
if(NOT MID2NOLT_EXACT_DOUBLES)
  set(CMAKE_REQUIRED_FLAGS "-msse2 -mfpmath=sse")
  check_cxx_source_compiles("${exact_doubles_source}" MID2NOLT_EXACT_DOUBLES_WITH_SSE2)
  unset(CMAKE_REQUIRED_FLAGS)
  if(NOT MID2NOLT_EXACT_DOUBLES_WITH_SSE2)
    message(FATAL_ERROR "${CMAKE_CXX_COMPILER} evaluates doubles with excess precision "
      "(FLT_EVAL_METHOD is not 0) and -msse2 -mfpmath=sse does not change that: mid2nolt's "
      "tick arithmetic needs plain IEEE 754 doubles to give the same scripts everywhere.")
  endif()
  message(STATUS "Doubles evaluated with excess precision: adding -msse2 -mfpmath=sse")
  add_compile_options(-msse2 -mfpmath=sse)
endif()
