#pragma once
// FFmpeg, loaded on first use. Linking it would load ~140 libraries (30 ms, 25 MiB) into every run, also into
// those that never touch it (--version, a WAV to WAV); so its four libraries are opened by dlopen when a reader
// or writer first needs them. Include this header instead of FFmpeg's own: after it, each FFmpeg function used
// here is a call through the table of the loaded libraries (no FFmpeg header may be included after this one).

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include <string>

// Every FFmpeg function the program calls, with the library that exports it.
#define PELLORAN_FFMPEG_FUNCTIONS(X)                                                                               \
    X(avutil, av_audio_fifo_alloc)                                                                                 \
    X(avutil, av_audio_fifo_free)                                                                                  \
    X(avutil, av_audio_fifo_read)                                                                                  \
    X(avutil, av_audio_fifo_size)                                                                                  \
    X(avutil, av_audio_fifo_write)                                                                                 \
    X(avutil, av_channel_layout_compare)                                                                           \
    X(avutil, av_channel_layout_copy)                                                                              \
    X(avutil, av_channel_layout_default)                                                                           \
    X(avutil, av_channel_layout_from_mask)                                                                         \
    X(avutil, av_channel_layout_uninit)                                                                            \
    X(avutil, av_dict_free)                                                                                        \
    X(avutil, av_dict_get)                                                                                         \
    X(avutil, av_dict_set)                                                                                         \
    X(avutil, av_dict_set_int)                                                                                     \
    X(avutil, av_frame_alloc)                                                                                      \
    X(avutil, av_frame_free)                                                                                       \
    X(avutil, av_frame_get_buffer)                                                                                 \
    X(avutil, av_frame_make_writable)                                                                              \
    X(avutil, av_frame_unref)                                                                                      \
    X(avutil, av_free)                                                                                             \
    X(avutil, av_freep)                                                                                            \
    X(avutil, av_get_bytes_per_sample)                                                                             \
    X(avutil, av_get_packed_sample_fmt)                                                                            \
    X(avutil, av_log_set_level)                                                                                    \
    X(avutil, av_malloc)                                                                                           \
    X(avutil, av_mallocz)                                                                                          \
    X(avutil, av_opt_set_int)                                                                                      \
    X(avutil, av_rescale)                                                                                          \
    X(avutil, av_rescale_q)                                                                                        \
    X(avutil, av_sample_fmt_is_planar)                                                                             \
    X(avutil, av_strerror)                                                                                         \
    X(swresample, swr_alloc_set_opts2)                                                                             \
    X(swresample, swr_convert)                                                                                     \
    X(swresample, swr_free)                                                                                        \
    X(swresample, swr_get_out_samples)                                                                             \
    X(swresample, swr_init)                                                                                        \
    X(swresample, swr_set_matrix)                                                                                  \
    X(avcodec, av_new_packet)                                                                                      \
    X(avcodec, av_packet_alloc)                                                                                    \
    X(avcodec, av_packet_free)                                                                                     \
    X(avcodec, av_packet_rescale_ts)                                                                               \
    X(avcodec, av_packet_unref)                                                                                    \
    X(avcodec, avcodec_alloc_context3)                                                                             \
    X(avcodec, avcodec_descriptor_get)                                                                             \
    X(avcodec, avcodec_find_decoder)                                                                               \
    X(avcodec, avcodec_find_encoder)                                                                               \
    X(avcodec, avcodec_free_context)                                                                               \
    X(avcodec, avcodec_get_name)                                                                                   \
    X(avcodec, avcodec_open2)                                                                                      \
    X(avcodec, avcodec_parameters_from_context)                                                                    \
    X(avcodec, avcodec_parameters_to_context)                                                                      \
    X(avcodec, avcodec_receive_frame)                                                                              \
    X(avcodec, avcodec_receive_packet)                                                                             \
    X(avcodec, avcodec_send_frame)                                                                                 \
    X(avcodec, avcodec_send_packet)                                                                                \
    X(avformat, av_find_best_stream)                                                                               \
    X(avformat, av_find_input_format)                                                                              \
    X(avformat, av_guess_format)                                                                                   \
    X(avformat, av_interleaved_write_frame)                                                                        \
    X(avformat, av_read_frame)                                                                                     \
    X(avformat, av_write_frame)                                                                                    \
    X(avformat, av_write_trailer)                                                                                  \
    X(avformat, avformat_alloc_context)                                                                            \
    X(avformat, avformat_alloc_output_context2)                                                                    \
    X(avformat, avformat_close_input)                                                                              \
    X(avformat, avformat_find_stream_info)                                                                         \
    X(avformat, avformat_free_context)                                                                             \
    X(avformat, avformat_new_stream)                                                                               \
    X(avformat, avformat_open_input)                                                                               \
    X(avformat, avformat_write_header)                                                                             \
    X(avformat, avio_alloc_context)                                                                                \
    X(avformat, avio_closep)                                                                                       \
    X(avformat, avio_context_free)                                                                                 \
    X(avformat, avio_flush)                                                                                        \
    X(avformat, avio_open)                                                                                         \
    X(avformat, avio_seek)                                                                                         \
    X(avformat, avio_size)

namespace pelloran::ffmpeg {

struct Functions {
#define PELLORAN_FFMPEG_FIELD(library, name) decltype(&::name) name = nullptr;
    PELLORAN_FFMPEG_FUNCTIONS(PELLORAN_FFMPEG_FIELD)
#undef PELLORAN_FFMPEG_FIELD
};

// Loads the libraries once per process (thread-safe) and quiets FFmpeg's log; false when they cannot be loaded.
// Every entry point over FFmpeg asks this before its first call.
bool Load();
// Why Load failed ("" after a successful one): the loader's message, naming the library.
const std::string& LoadError();
// The library's words for one of its error codes.
std::string ErrorText(int code);
// The loaded table; a call before a successful Load ends the process with a message (a packaging fault).
const Functions& Table();

}  // namespace pelloran::ffmpeg

// The calls below go through the table. Generated from the list above would be nicer, but the preprocessor cannot
// define macros from a macro.
#define av_audio_fifo_alloc(...) (::pelloran::ffmpeg::Table().av_audio_fifo_alloc(__VA_ARGS__))
#define av_audio_fifo_free(...) (::pelloran::ffmpeg::Table().av_audio_fifo_free(__VA_ARGS__))
#define av_audio_fifo_read(...) (::pelloran::ffmpeg::Table().av_audio_fifo_read(__VA_ARGS__))
#define av_audio_fifo_size(...) (::pelloran::ffmpeg::Table().av_audio_fifo_size(__VA_ARGS__))
#define av_audio_fifo_write(...) (::pelloran::ffmpeg::Table().av_audio_fifo_write(__VA_ARGS__))
#define av_channel_layout_compare(...) (::pelloran::ffmpeg::Table().av_channel_layout_compare(__VA_ARGS__))
#define av_channel_layout_copy(...) (::pelloran::ffmpeg::Table().av_channel_layout_copy(__VA_ARGS__))
#define av_channel_layout_default(...) (::pelloran::ffmpeg::Table().av_channel_layout_default(__VA_ARGS__))
#define av_channel_layout_from_mask(...) (::pelloran::ffmpeg::Table().av_channel_layout_from_mask(__VA_ARGS__))
#define av_channel_layout_uninit(...) (::pelloran::ffmpeg::Table().av_channel_layout_uninit(__VA_ARGS__))
#define av_dict_free(...) (::pelloran::ffmpeg::Table().av_dict_free(__VA_ARGS__))
#define av_dict_get(...) (::pelloran::ffmpeg::Table().av_dict_get(__VA_ARGS__))
#define av_dict_set(...) (::pelloran::ffmpeg::Table().av_dict_set(__VA_ARGS__))
#define av_dict_set_int(...) (::pelloran::ffmpeg::Table().av_dict_set_int(__VA_ARGS__))
#define av_frame_alloc(...) (::pelloran::ffmpeg::Table().av_frame_alloc(__VA_ARGS__))
#define av_frame_free(...) (::pelloran::ffmpeg::Table().av_frame_free(__VA_ARGS__))
#define av_frame_get_buffer(...) (::pelloran::ffmpeg::Table().av_frame_get_buffer(__VA_ARGS__))
#define av_frame_make_writable(...) (::pelloran::ffmpeg::Table().av_frame_make_writable(__VA_ARGS__))
#define av_frame_unref(...) (::pelloran::ffmpeg::Table().av_frame_unref(__VA_ARGS__))
#define av_free(...) (::pelloran::ffmpeg::Table().av_free(__VA_ARGS__))
#define av_freep(...) (::pelloran::ffmpeg::Table().av_freep(__VA_ARGS__))
#define av_get_bytes_per_sample(...) (::pelloran::ffmpeg::Table().av_get_bytes_per_sample(__VA_ARGS__))
#define av_get_packed_sample_fmt(...) (::pelloran::ffmpeg::Table().av_get_packed_sample_fmt(__VA_ARGS__))
#define av_log_set_level(...) (::pelloran::ffmpeg::Table().av_log_set_level(__VA_ARGS__))
#define av_malloc(...) (::pelloran::ffmpeg::Table().av_malloc(__VA_ARGS__))
#define av_mallocz(...) (::pelloran::ffmpeg::Table().av_mallocz(__VA_ARGS__))
#define av_opt_set_int(...) (::pelloran::ffmpeg::Table().av_opt_set_int(__VA_ARGS__))
#define av_rescale(...) (::pelloran::ffmpeg::Table().av_rescale(__VA_ARGS__))
#define av_rescale_q(...) (::pelloran::ffmpeg::Table().av_rescale_q(__VA_ARGS__))
#define av_sample_fmt_is_planar(...) (::pelloran::ffmpeg::Table().av_sample_fmt_is_planar(__VA_ARGS__))
#define av_strerror(...) (::pelloran::ffmpeg::Table().av_strerror(__VA_ARGS__))
#define swr_alloc_set_opts2(...) (::pelloran::ffmpeg::Table().swr_alloc_set_opts2(__VA_ARGS__))
#define swr_convert(...) (::pelloran::ffmpeg::Table().swr_convert(__VA_ARGS__))
#define swr_free(...) (::pelloran::ffmpeg::Table().swr_free(__VA_ARGS__))
#define swr_get_out_samples(...) (::pelloran::ffmpeg::Table().swr_get_out_samples(__VA_ARGS__))
#define swr_init(...) (::pelloran::ffmpeg::Table().swr_init(__VA_ARGS__))
#define swr_set_matrix(...) (::pelloran::ffmpeg::Table().swr_set_matrix(__VA_ARGS__))
#define av_new_packet(...) (::pelloran::ffmpeg::Table().av_new_packet(__VA_ARGS__))
#define av_packet_alloc(...) (::pelloran::ffmpeg::Table().av_packet_alloc(__VA_ARGS__))
#define av_packet_free(...) (::pelloran::ffmpeg::Table().av_packet_free(__VA_ARGS__))
#define av_packet_rescale_ts(...) (::pelloran::ffmpeg::Table().av_packet_rescale_ts(__VA_ARGS__))
#define av_packet_unref(...) (::pelloran::ffmpeg::Table().av_packet_unref(__VA_ARGS__))
#define avcodec_alloc_context3(...) (::pelloran::ffmpeg::Table().avcodec_alloc_context3(__VA_ARGS__))
#define avcodec_descriptor_get(...) (::pelloran::ffmpeg::Table().avcodec_descriptor_get(__VA_ARGS__))
#define avcodec_find_decoder(...) (::pelloran::ffmpeg::Table().avcodec_find_decoder(__VA_ARGS__))
#define avcodec_find_encoder(...) (::pelloran::ffmpeg::Table().avcodec_find_encoder(__VA_ARGS__))
#define avcodec_free_context(...) (::pelloran::ffmpeg::Table().avcodec_free_context(__VA_ARGS__))
#define avcodec_get_name(...) (::pelloran::ffmpeg::Table().avcodec_get_name(__VA_ARGS__))
#define avcodec_open2(...) (::pelloran::ffmpeg::Table().avcodec_open2(__VA_ARGS__))
#define avcodec_parameters_from_context(...) (::pelloran::ffmpeg::Table().avcodec_parameters_from_context(__VA_ARGS__))
#define avcodec_parameters_to_context(...) (::pelloran::ffmpeg::Table().avcodec_parameters_to_context(__VA_ARGS__))
#define avcodec_receive_frame(...) (::pelloran::ffmpeg::Table().avcodec_receive_frame(__VA_ARGS__))
#define avcodec_receive_packet(...) (::pelloran::ffmpeg::Table().avcodec_receive_packet(__VA_ARGS__))
#define avcodec_send_frame(...) (::pelloran::ffmpeg::Table().avcodec_send_frame(__VA_ARGS__))
#define avcodec_send_packet(...) (::pelloran::ffmpeg::Table().avcodec_send_packet(__VA_ARGS__))
#define av_find_best_stream(...) (::pelloran::ffmpeg::Table().av_find_best_stream(__VA_ARGS__))
#define av_find_input_format(...) (::pelloran::ffmpeg::Table().av_find_input_format(__VA_ARGS__))
#define av_guess_format(...) (::pelloran::ffmpeg::Table().av_guess_format(__VA_ARGS__))
#define av_interleaved_write_frame(...) (::pelloran::ffmpeg::Table().av_interleaved_write_frame(__VA_ARGS__))
#define av_read_frame(...) (::pelloran::ffmpeg::Table().av_read_frame(__VA_ARGS__))
#define av_write_frame(...) (::pelloran::ffmpeg::Table().av_write_frame(__VA_ARGS__))
#define av_write_trailer(...) (::pelloran::ffmpeg::Table().av_write_trailer(__VA_ARGS__))
#define avformat_alloc_context(...) (::pelloran::ffmpeg::Table().avformat_alloc_context(__VA_ARGS__))
#define avformat_alloc_output_context2(...) (::pelloran::ffmpeg::Table().avformat_alloc_output_context2(__VA_ARGS__))
#define avformat_close_input(...) (::pelloran::ffmpeg::Table().avformat_close_input(__VA_ARGS__))
#define avformat_find_stream_info(...) (::pelloran::ffmpeg::Table().avformat_find_stream_info(__VA_ARGS__))
#define avformat_free_context(...) (::pelloran::ffmpeg::Table().avformat_free_context(__VA_ARGS__))
#define avformat_new_stream(...) (::pelloran::ffmpeg::Table().avformat_new_stream(__VA_ARGS__))
#define avformat_open_input(...) (::pelloran::ffmpeg::Table().avformat_open_input(__VA_ARGS__))
#define avformat_write_header(...) (::pelloran::ffmpeg::Table().avformat_write_header(__VA_ARGS__))
#define avio_alloc_context(...) (::pelloran::ffmpeg::Table().avio_alloc_context(__VA_ARGS__))
#define avio_closep(...) (::pelloran::ffmpeg::Table().avio_closep(__VA_ARGS__))
#define avio_context_free(...) (::pelloran::ffmpeg::Table().avio_context_free(__VA_ARGS__))
#define avio_flush(...) (::pelloran::ffmpeg::Table().avio_flush(__VA_ARGS__))
#define avio_open(...) (::pelloran::ffmpeg::Table().avio_open(__VA_ARGS__))
#define avio_seek(...) (::pelloran::ffmpeg::Table().avio_seek(__VA_ARGS__))
#define avio_size(...) (::pelloran::ffmpeg::Table().avio_size(__VA_ARGS__))
