# Tests of the mail reader, the server addresses, and the POP3 session and
# SMTP sender against real servers.

# The private mail servers run from a folder the dovecot user can reach
# (a build folder under /root would not do), one per build folder.
string(MD5 _mail_servers_hash "${CMAKE_BINARY_DIR}")
string(SUBSTRING "${_mail_servers_hash}" 0 10 _mail_servers_hash)
set(MAIL_SERVERS_DIR "/tmp/tramelon-mail-servers-${_mail_servers_hash}"
    CACHE INTERNAL "Folder of the mail servers of the test fixture mail_servers")

include(${CMAKE_SOURCE_DIR}/tests/support/support.cmake)

# Fixture "mail_servers": tests that talk to the servers list it in FIXTURES.
add_test(NAME mail_servers_start COMMAND ${CMAKE_SOURCE_DIR}/scripts/mail-servers start ${MAIL_SERVERS_DIR})
set_tests_properties(mail_servers_start PROPERTIES FIXTURES_SETUP mail_servers TIMEOUT 60 LABELS mail)
add_test(NAME mail_servers_stop COMMAND ${CMAKE_SOURCE_DIR}/scripts/mail-servers stop ${MAIL_SERVERS_DIR})
set_tests_properties(mail_servers_stop PROPERTIES FIXTURES_CLEANUP mail_servers TIMEOUT 60 LABELS mail)

add_qt_test(tst_mail_parser SOURCES tst_mail_parser.cpp LIBS tramelon_components LABELS mail)
add_qt_test(tst_mail_address SOURCES tst_mail_address.cpp LIBS tramelon_components LABELS mail)
add_qt_test(tst_pop3_session SOURCES tst_pop3_session.cpp
    LIBS tramelon_components test_mail_support FIXTURES mail_servers LABELS mail)
add_qt_test(tst_smtp_sender SOURCES tst_smtp_sender.cpp
    LIBS tramelon_components test_mail_support FIXTURES mail_servers LABELS mail)
