# Warnings and sanitizers for every target of the project.
if(MSVC)
    add_compile_options(/W4)
else()
    add_compile_options(-Wall -Wextra)
endif()

if(FACELUME_SANITIZE AND FACELUME_TSAN)
    message(FATAL_ERROR "FACELUME_SANITIZE and FACELUME_TSAN cannot be combined")
endif()
if(FACELUME_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
endif()
if(FACELUME_FUZZ)
    # Coverage for libFuzzer in every library; the fuzz targets add the fuzzer's main.
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                        -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
endif()
if(FACELUME_TSAN)
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
endif()
