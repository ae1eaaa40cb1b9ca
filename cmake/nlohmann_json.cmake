# Locates the nlohmann/json headers shipped by the PyPI package `nlohmann-json` (or the
# directory given in NLOHMANN_JSON_INCLUDE_DIR) and insists on release 3.12.
if(NOT NLOHMANN_JSON_INCLUDE_DIR)
  execute_process(
    COMMAND "${Python_EXECUTABLE}" -c
      "import importlib.util, os; s = importlib.util.find_spec('nlohmann_json'); print(os.path.join(list(s.submodule_search_locations)[0], 'include') if s else '')"
    OUTPUT_VARIABLE _ploxa_json_dir
    OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(NLOHMANN_JSON_INCLUDE_DIR "${_ploxa_json_dir}" CACHE PATH "nlohmann/json include directory")
endif()

set(_ploxa_json_macros "${NLOHMANN_JSON_INCLUDE_DIR}/nlohmann/detail/abi_macros.hpp")
if(NOT EXISTS "${_ploxa_json_macros}")
  message(FATAL_ERROR "nlohmann/json headers not found (looked in '${NLOHMANN_JSON_INCLUDE_DIR}'); "
                      "install the PyPI package nlohmann-json==3.12.0 or set NLOHMANN_JSON_INCLUDE_DIR")
endif()

file(STRINGS "${_ploxa_json_macros}" _ploxa_json_version
     REGEX "^#define NLOHMANN_JSON_VERSION_(MAJOR|MINOR|PATCH) [0-9]+")
string(REGEX REPLACE ".*MAJOR ([0-9]+).*MINOR ([0-9]+).*PATCH ([0-9]+).*" "\\1.\\2.\\3"
       _ploxa_json_version "${_ploxa_json_version}")
if(NOT _ploxa_json_version MATCHES "^3\\.12\\.")
  message(FATAL_ERROR "nlohmann/json 3.12 is required, found ${_ploxa_json_version} "
                      "in ${NLOHMANN_JSON_INCLUDE_DIR}")
endif()
message(STATUS "nlohmann/json ${_ploxa_json_version} from ${NLOHMANN_JSON_INCLUDE_DIR}")

add_library(nlohmann_json_headers INTERFACE)
target_include_directories(nlohmann_json_headers SYSTEM INTERFACE "${NLOHMANN_JSON_INCLUDE_DIR}")
