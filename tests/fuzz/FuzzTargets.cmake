# The fuzz targets and the source of each, shared by the fuzz build and the corpus replay.
set(PELLORAN_FUZZ_TARGETS wav aiff au smf lnk id3v2 settings wav_source flac_source mpeg_frames vorbis_picture
  cue_sheet tags)
foreach(name wav aiff au)
  set(PELLORAN_FUZZ_SOURCE_${name} ${CMAKE_CURRENT_LIST_DIR}/${name}_reader_fuzz.cpp)
endforeach()
foreach(name smf lnk id3v2 settings wav_source flac_source mpeg_frames vorbis_picture cue_sheet tags)
  set(PELLORAN_FUZZ_SOURCE_${name} ${CMAKE_CURRENT_LIST_DIR}/${name}_fuzz.cpp)
endforeach()
