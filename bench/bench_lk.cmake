if(TARGET klr_panel_lk AND TARGET klr_sim)
  klr_add_bench(bench_lk SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_lk.cpp
                LIBS klr_panel_lk klr_sim Qt6::Widgets)
endif()
