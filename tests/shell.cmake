lumora_add_test(tst_controls SOURCES tst_controls.cpp LIBS lumora_platform)
lumora_add_test(tst_shell SOURCES tst_shell.cpp LIBS lumora_app)
lumora_add_test(tst_ping_window SOURCES tst_ping_window.cpp LIBS lumora_app)

# The start-up benchmark's probe (LUMORA_EXIT_WHEN_SHOWN) lives in its own
# build of the client: the program users run must not hold it. grep gives 1
# for "not there" and 2 when it cannot read the program.
add_test(NAME client_has_no_benchmark_hook
  COMMAND sh -c "grep -q -a LUMORA_EXIT_WHEN_SHOWN \"$1\"; test $? -eq 1" sh $<TARGET_FILE:lumora-7150r-sim>)
