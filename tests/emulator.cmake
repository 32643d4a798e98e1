# testsupport.h brings in QApplication, hence Widgets, although the unit under
# test needs only Core and Network.
lumora_add_test(tst_emulator SOURCES tst_emulator.cpp LIBS lumora_emulator_core Qt6::Network Qt6::Widgets)
