# Fails when a library source includes a layer above its own, or when code above the platform
# layer includes a system header of the platform. Run by the build (target mbus_layers) with
# -DSOURCE_DIR=<the src folder>.
#
cmake_minimum_required(VERSION 3.25)

# Layers, bottom up, and what each may include besides itself:
set(allowed_base "")
set(allowed_platform "base")
set(allowed_runtime "base;platform")
set(allowed_items "base;platform;runtime")
set(allowed_requests "base;platform;runtime")
set(allowed_messaging "base;platform;runtime;items;requests")
set(allowed_api "base;platform;runtime;items;requests;messaging")
set(allowed_loader "base")
# System headers that only src/platform may include.
set(platform_headers "^(sys/|linux/|netinet/|arpa/|unistd\\.h|pthread\\.h|fcntl\\.h|poll\\.h|dlfcn\\.h|signal\\.h|sched\\.h|time\\.h|errno\\.h)")

file(GLOB_RECURSE sources RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/*.h" "${SOURCE_DIR}/*.cpp")
set(violations "")
foreach(source IN LISTS sources)
  string(REGEX MATCH "^[^/]+" layer "${source}")
  if(NOT DEFINED allowed_${layer})
    list(APPEND violations "${source}: the folder ${layer} is no known layer")
    continue()
  endif()
  file(STRINGS "${SOURCE_DIR}/${source}" includes REGEX "^#include [<\"]")
  foreach(line IN LISTS includes)
    if(line MATCHES "^#include \"([^/\"]+)/")
      set(target "${CMAKE_MATCH_1}")
      if(NOT target STREQUAL layer AND NOT target IN_LIST allowed_${layer})
        list(APPEND violations "${source}: ${layer} may not include ${target}/ (${line})")
      endif()
    elseif(line MATCHES "^#include <([^>]+)>" AND NOT layer STREQUAL "platform")
      if(CMAKE_MATCH_1 MATCHES "${platform_headers}")
        list(APPEND violations "${source}: only platform/ includes <${CMAKE_MATCH_1}>")
      endif()
    endif()
  endforeach()
endforeach()
if(violations)
  list(JOIN violations "\n  " text)
  message(FATAL_ERROR "Layering violations:\n  ${text}")
endif()
