# test_mail_support: access to the private mail servers of the tests (fixture
# "mail_servers"), a TCP peer that never answers and a POP3 peer that
# stalls or floods on cue, an SMTP peer that records the exact command
# lines, mails built to hold up a parser. MAIL_SERVERS_DIR reaches
# every test that links it.
add_library(test_mail_support STATIC
    mail_servers.cpp mail_servers.h
    cutting_proxy.cpp cutting_proxy.h
    silent_server.cpp silent_server.h
    scripted_pop3_peer.cpp scripted_pop3_peer.h
    recording_smtp_peer.cpp recording_smtp_peer.h
    hostile_mails.cpp hostile_mails.h)
target_link_libraries(test_mail_support PUBLIC Qt6::Core Qt6::Network PRIVATE project_options)
target_include_directories(test_mail_support PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_definitions(test_mail_support PUBLIC MAIL_SERVERS_DIR="${MAIL_SERVERS_DIR}")

# test_tls_support: a POP3/SMTP peer that presents a chain made at run time
# by make-test-certificates.
add_library(test_tls_support STATIC tls_mail_peer.cpp tls_mail_peer.h)
target_link_libraries(test_tls_support PUBLIC Qt6::Network PRIVATE project_options)
target_include_directories(test_tls_support PUBLIC ${CMAKE_SOURCE_DIR})
