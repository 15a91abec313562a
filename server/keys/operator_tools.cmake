# The actions directory window and the client folder provisioning.
target_sources(tramelon_core PRIVATE
    actions_directory.cpp actions_directory.h
    form_repertoire.cpp form_repertoire.h
    form_repertoire_2.cpp form_repertoire_2.h
    operator_tools.cpp operator_tools.h
    provisioning.cpp provisioning.h)
