# Extra needs of the system tests (included from tests/CMakeLists.txt).

set(_kexo_fixtures ${CMAKE_CURRENT_SOURCE_DIR}/fixtures)

if(TARGET system_test_KXSysTools)
  # The test program carries a version record of its own, read back from its file.
  kexo_add_version_record(system_test_KXSysTools 2.5.0.7)
  # A library beside the test program, found there by the library search, and one whose
  # record has no file version.
  add_library(system_fixture_searchlib SHARED ${_kexo_fixtures}/version/fixture_module.c)
  set_target_properties(system_fixture_searchlib PROPERTIES
    LIBRARY_OUTPUT_DIRECTORY $<TARGET_FILE_DIR:system_test_KXSysTools>)
  add_library(system_fixture_no_file_version SHARED ${_kexo_fixtures}/version/record_without_file_version.c)
  add_dependencies(system_test_KXSysTools system_fixture_searchlib system_fixture_no_file_version)
  target_compile_definitions(system_test_KXSysTools PRIVATE
    KEXO_SEARCH_LIB="$<TARGET_FILE:system_fixture_searchlib>"
    KEXO_NO_FILE_VERSION_LIB="$<TARGET_FILE:system_fixture_no_file_version>")
endif()
