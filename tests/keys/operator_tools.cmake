# The actions directory window and the client folder provisioning.
add_qt_test(tst_operator_tools SOURCES tst_operator_tools.cpp LIBS tramelon_core)
