# The fuzz targets' code as a library, shared by the libFuzzer programs (fuzz/)
# and the corpus replay test (tests/reliability/). Included from either place;
# sets ZRN_FUZZ_TARGETS, the names of targets.cpp's table, each with its corpus
# in fuzz/corpus/<name>.
set(ZRN_FUZZ_DIR ${PROJECT_SOURCE_DIR}/fuzz)
set(ZRN_FUZZ_TARGETS
  bcd_codec sms_hex_codec card_image_json read_zrn read_sms
  write_zrn_extended write_zrn_standard write_sms lying_card)
# The tool's readers, when the tool is part of the build.
if(TARGET zrn_cli_lib)
  list(APPEND ZRN_FUZZ_TARGETS cli_vcard cli_csv cli_json cli_phonebook_stream cli_sms_pdu)
endif()

if(TARGET zrn_fuzz_harness)
  return()
endif()

add_library(zrn_fuzz_harness STATIC
  ${ZRN_FUZZ_DIR}/harness/card_recipe.cpp
  ${ZRN_FUZZ_DIR}/harness/checked_calls.cpp
  ${ZRN_FUZZ_DIR}/harness/contracts.cpp
  ${ZRN_FUZZ_DIR}/harness/targets.cpp
  ${ZRN_FUZZ_DIR}/harness/targets_card.cpp
  ${ZRN_FUZZ_DIR}/harness/targets_codecs.cpp
  ${ZRN_FUZZ_DIR}/harness/targets_write.cpp
)
target_link_libraries(zrn_fuzz_harness PUBLIC zrn_simulated)
zrn_set_warnings(zrn_fuzz_harness)
if(TARGET zrn_cli_lib)
  target_sources(zrn_fuzz_harness PRIVATE ${ZRN_FUZZ_DIR}/harness/targets_cli.cpp)
  target_link_libraries(zrn_fuzz_harness PUBLIC zrn_cli_lib)
  target_compile_definitions(zrn_fuzz_harness PUBLIC ZRN_FUZZ_WITH_CLI)
endif()
