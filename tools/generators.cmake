# The data generators' targets, shared by the build itself and by the host build of a cross build.
# The generators always run optimised: the data build stays fast in debug and sanitizer builds.
set(generator_sources ${CMAKE_CURRENT_LIST_DIR})
pkg_check_modules(PNG REQUIRED IMPORTED_TARGET libpng)
pkg_check_modules(VORBISENC REQUIRED IMPORTED_TARGET vorbisenc vorbis ogg)

add_executable(make_particles ${generator_sources}/make_particles.cpp)
target_link_libraries(make_particles PRIVATE PkgConfig::PNG)
target_compile_options(make_particles PRIVATE -O2)

add_executable(make_song ${generator_sources}/make_song.cpp ${generator_sources}/song_score.cpp
                         ${generator_sources}/song_synth.cpp ${generator_sources}/song_scripts.cpp
                         ${generator_sources}/ogg_vorbis_writer.cpp)
target_link_libraries(make_song PRIVATE PkgConfig::VORBISENC)
target_compile_options(make_song PRIVATE -O2)
