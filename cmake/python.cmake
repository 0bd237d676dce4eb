# The Python package qvx: its extension module qvx._qvx over the core and
# the encoder, put with the package's Python files into build/.../python/qvx
# (PYTHONPATH for the tests and benchmark), the pytest suites, and the
# install component "python" (the python3-qvx package). Left out, with a
# note, where Python's headers or pybind11 are missing.
# Debian's own Python, whatever else PATH offers: the packages it holds
# (NumPy, Pillow, Dask) are the ones the module is built and tested with.
if(NOT DEFINED Python_EXECUTABLE AND EXISTS /usr/bin/python3)
  set(Python_EXECUTABLE /usr/bin/python3)
endif()
find_package(Python 3.9 COMPONENTS Interpreter Development.Module QUIET)
if(Python_FOUND)
  find_package(pybind11 CONFIG QUIET)
endif()
if(NOT Python_FOUND OR NOT pybind11_FOUND)
  message(STATUS "Python 3 headers or pybind11 not found: the qvx Python package is not built")
  return()
endif()

set(TAVKO_PYTHON_DIR ${CMAKE_BINARY_DIR}/python)
add_library(tavko_python_core STATIC ${TAVKO_CORE_SOURCES} ${TAVKO_ENCODE_SOURCES})
target_include_directories(tavko_python_core PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(tavko_python_core PRIVATE ${TAVKO_WARNINGS})
set_target_properties(tavko_python_core PROPERTIES POSITION_INDEPENDENT_CODE ON CXX_VISIBILITY_PRESET hidden)

pybind11_add_module(qvx_python MODULE NO_EXTRAS python/src/module.cpp)
target_compile_options(qvx_python PRIVATE ${TAVKO_WARNINGS})
target_link_libraries(qvx_python PRIVATE tavko_python_core)
target_link_options(qvx_python PRIVATE -Wl,--exclude-libs,ALL)
set_target_properties(qvx_python PROPERTIES OUTPUT_NAME _qvx LIBRARY_OUTPUT_DIRECTORY ${TAVKO_PYTHON_DIR}/qvx)

set(TAVKO_PYTHON_FILES __init__.py __init__.pyi _errors.py _errors.pyi _pillow.py py.typed)
set(copied)
foreach(file ${TAVKO_PYTHON_FILES})
  add_custom_command(OUTPUT ${TAVKO_PYTHON_DIR}/qvx/${file}
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/python/qvx/${file} ${TAVKO_PYTHON_DIR}/qvx/${file}
    DEPENDS ${CMAKE_SOURCE_DIR}/python/qvx/${file} VERBATIM)
  list(APPEND copied ${TAVKO_PYTHON_DIR}/qvx/${file})
endforeach()
add_custom_target(qvx_python_files ALL DEPENDS ${copied})
add_dependencies(qvx_python qvx_python_files)

# Where Debian's Python finds packages: /usr/lib/python3/dist-packages for
# the system's own, pythonX.Y/dist-packages under any other prefix.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(python_default lib/python3/dist-packages)
else()
  set(python_default lib/python${Python_VERSION_MAJOR}.${Python_VERSION_MINOR}/dist-packages)
endif()
set(TAVKO_PYTHON_INSTALL_DIR ${python_default} CACHE PATH "Where the qvx package is installed, under the prefix")
install(TARGETS qvx_python LIBRARY DESTINATION ${TAVKO_PYTHON_INSTALL_DIR}/qvx COMPONENT python)
list(TRANSFORM TAVKO_PYTHON_FILES PREPEND ${CMAKE_SOURCE_DIR}/python/qvx/ OUTPUT_VARIABLE sources)
install(FILES ${sources} DESTINATION ${TAVKO_PYTHON_INSTALL_DIR}/qvx COMPONENT python)

if(NOT BUILD_TESTING)
  return()
endif()
# pytest from Debian (python3-pytest): the corpus, broken files, threads,
# Pillow and the fuzz seeds; Dask's local cluster; pip installs.
execute_process(COMMAND ${Python_EXECUTABLE} -c "import pytest" RESULT_VARIABLE no_pytest OUTPUT_QUIET ERROR_QUIET)
if(no_pytest)
  message(STATUS "pytest not found for ${Python_EXECUTABLE}: the Python tests are not registered")
  return()
endif()
set(TAVKO_PYTEST_ENV PYTHONPATH=${TAVKO_PYTHON_DIR} TAVKO_TOOL=$<TARGET_FILE:tavko> TAVKO_CORPUS_DIR=${TAVKO_CORPUS_DIR}
  TAVKO_SOURCE_DIR=${CMAKE_SOURCE_DIR} PYTHONDONTWRITEBYTECODE=1)
foreach(suite qvx dask)
  add_test(NAME python.${suite} COMMAND ${Python_EXECUTABLE} -m pytest -q -p no:cacheprovider
    ${CMAKE_SOURCE_DIR}/tests/python/test_${suite}.py)
  set_tests_properties(python.${suite} PROPERTIES ENVIRONMENT "${TAVKO_PYTEST_ENV}")
endforeach()
set_tests_properties(python.dask PROPERTIES TIMEOUT 300)
add_test(NAME python.pip COMMAND ${CMAKE_SOURCE_DIR}/tests/python/pip-install.sh ${Python_EXECUTABLE}
  ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/python-pip)
set_tests_properties(python.pip PROPERTIES TIMEOUT 600 ENVIRONMENT "${TAVKO_PYTEST_ENV}")
