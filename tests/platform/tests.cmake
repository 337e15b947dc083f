# Extra needs of the platform tests (included from tests/CMakeLists.txt).

set(_kexo_fixtures ${CMAKE_CURRENT_SOURCE_DIR}/fixtures)

# Resources compiled into the resource test from small files of different kinds.
if(TARGET platform_test_Resources)
  kexo_add_resources(platform_test_Resources
    Fixture_Text  ${_kexo_fixtures}/data/resource_text.txt
    FIXTURE_BYTES ${_kexo_fixtures}/data/resource_bytes.bin
    fixture_empty ${_kexo_fixtures}/data/resource_empty.txt)
  target_compile_definitions(platform_test_Resources PRIVATE
    KEXO_FIXTURE_DATA_DIR="${_kexo_fixtures}/data")
endif()

# Two small shared libraries, one with a version record and one without, for the
# version-record reader and the module look-ups.
if(TARGET platform_test_FileVersion OR TARGET platform_test_ProgramInfo)
  add_library(platform_fixture_versioned SHARED ${_kexo_fixtures}/version/fixture_module.c)
  kexo_add_version_record(platform_fixture_versioned 1.2.3.4 DESCRIPTION "Kexo fixture module")
  add_library(platform_fixture_unversioned SHARED ${_kexo_fixtures}/version/fixture_module.c)
  foreach(t platform_test_FileVersion platform_test_ProgramInfo)
    if(TARGET ${t})
      add_dependencies(${t} platform_fixture_versioned platform_fixture_unversioned)
      target_compile_definitions(${t} PRIVATE
        KEXO_VERSIONED_LIB="$<TARGET_FILE:platform_fixture_versioned>"
        KEXO_UNVERSIONED_LIB="$<TARGET_FILE:platform_fixture_unversioned>")
    endif()
  endforeach()
endif()

# test_DynLib loads the fixture plugins (tests/fixtures), and a copy of one of them beside
# the test program, so that the search of the program's own folder can be seen.
if(TARGET platform_test_DynLib)
  kexo_use_fixtures(platform_test_DynLib)
  add_custom_command(TARGET platform_test_DynLib POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:kexo_fixture_echo>
            $<TARGET_FILE_DIR:platform_test_DynLib>/kexo_fixture_beside.so
    VERBATIM)
endif()
