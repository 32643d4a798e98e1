lumora_add_test(tst_repeat SOURCES tst_repeat.cpp LIBS lumora_app)
