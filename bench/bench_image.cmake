if(TARGET klr_lk_geometry AND TARGET klr_sim)
  klr_add_bench(bench_image SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_image.cpp
                LIBS klr_lk_geometry klr_sim PkgConfig::TURBOJPEG)
  target_include_directories(bench_image PRIVATE ${PROJECT_SOURCE_DIR}/tests/common)
endif()
