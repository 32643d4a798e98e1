lumora_add_test(tst_startup SOURCES tst_startup.cpp LIBS lumora_app)
target_compile_definitions(tst_startup PRIVATE LUMORA_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
lumora_add_test(tst_accessibility SOURCES tst_accessibility.cpp LIBS lumora_app)

# What the installation gives a desktop and the package manager, validated
# the way they will read it. Skipped (77) only where a validator is missing.
foreach(check layout desktop metainfo manpages)
  add_test(NAME install_${check}
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/check_install.sh ${check} ${CMAKE_BINARY_DIR})
  set_tests_properties(install_${check} PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120)
endforeach()
