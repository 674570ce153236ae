# Fuzz targets of the country program and of the simulated bank's description files.
suite_add_fuzzer(country_profile country_profile.cpp LIBS country_config)
suite_add_fuzzer(country_match country_match.cpp LIBS country_config)
suite_add_fuzzer(country_cmdline country_cmdline.cpp LIBS country_wizard)
suite_add_fuzzer(bank_description bank_description.cpp LIBS modemsim_lib)
