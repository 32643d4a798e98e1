# The command-line program: its logic called directly, and the built program
# run against the emulator and loopback peers. The daily log it decodes is
# written by the window itself, hence lumora_app.
lumora_add_test(tst_cli SOURCES tst_cli.cpp LIBS lumora_cli lumora_app Qt6::Network)
add_dependencies(tst_cli lumora-7150r-cli lumora-7150r-unit)
target_compile_definitions(tst_cli PRIVATE LUMORA_CLI_PATH="$<TARGET_FILE:lumora-7150r-cli>")
