// The entry points each library module resolves, in the order it resolves them.
// Every name listed is required: the first one a library lacks fails its module.
// Only names: this header includes nothing, so a test can build a fake library from a list.
// Add a name on a line of its own where the program starts calling it.
#pragma once

// The lists are tables: one name a line, the continuations aligned.
// clang-format off
#define AVCODEC_ENTRY_POINTS(X)         \
    X(avcodec_version)                  \
    X(avcodec_alloc_context3)           \
    X(avcodec_free_context)             \
    X(avcodec_find_encoder)             \
    X(avcodec_find_encoder_by_name)     \
    X(avcodec_find_decoder)             \
    X(avcodec_find_decoder_by_name)     \
    X(avcodec_get_name)                 \
    X(avcodec_open2)                    \
    X(avcodec_close)                    \
    X(avcodec_is_open)                  \
    X(avcodec_parameters_from_context)  \
    X(avcodec_parameters_to_context)    \
    X(avcodec_parameters_copy)          \
    X(avcodec_send_packet)              \
    X(avcodec_receive_frame)            \
    X(avcodec_send_frame)               \
    X(avcodec_receive_packet)           \
    X(avcodec_decode_subtitle2)         \
    X(avcodec_encode_subtitle)          \
    X(avsubtitle_free)                  \
    X(avcodec_flush_buffers)            \
    X(avcodec_string)                   \
    X(avcodec_descriptor_get)           \
    X(av_packet_alloc)                  \
    X(av_packet_free)                   \
    X(av_packet_unref)                  \
    X(av_packet_ref)                    \
    X(av_packet_rescale_ts)             \
    X(av_packet_get_side_data)          \
    X(av_get_pcm_codec)                 \
    X(av_get_audio_frame_duration2)     \
    X(av_codec_iterate)                 \
    X(av_codec_is_encoder)              \
    X(av_codec_is_decoder)              \
    X(av_bsf_get_by_name)               \
    X(av_bsf_alloc)                     \
    X(av_bsf_init)                      \
    X(av_bsf_send_packet)               \
    X(av_bsf_receive_packet)            \
    X(av_bsf_free)

#define AVFORMAT_ENTRY_POINTS(X)        \
    X(avformat_version)                 \
    X(avformat_alloc_context)           \
    X(avformat_free_context)            \
    X(avformat_alloc_output_context2)   \
    X(avformat_open_input)              \
    X(avformat_close_input)             \
    X(avformat_find_stream_info)        \
    X(avformat_new_stream)              \
    X(avformat_write_header)            \
    X(avformat_query_codec)             \
    X(av_write_trailer)                 \
    X(av_interleaved_write_frame)       \
    X(av_read_frame)                    \
    X(av_seek_frame)                    \
    X(avformat_seek_file)               \
    X(av_find_input_format)             \
    X(av_probe_input_format2)           \
    X(av_guess_format)                  \
    X(av_guess_codec)                   \
    X(av_dump_format)                   \
    X(av_filename_number_test)          \
    X(av_codec_get_id)                  \
    X(av_codec_get_tag)                 \
    X(av_pkt_dump_log2)                 \
    X(av_sdp_create)                    \
    X(av_muxer_iterate)                 \
    X(av_demuxer_iterate)               \
    X(avio_open)                        \
    X(avio_closep)                      \
    X(avio_size)                        \
    X(avio_seek)

#define AVUTIL_ENTRY_POINTS(X)          \
    X(avutil_version)                   \
    X(av_log_set_callback)              \
    X(av_log_default_callback)          \
    X(av_log_get_level)                 \
    X(av_log_set_level)                 \
    X(av_log)                           \
    X(av_strerror)                      \
    X(av_strlcpy)                       \
    X(av_strstart)                      \
    X(av_strdup)                        \
    X(av_malloc)                        \
    X(av_mallocz)                       \
    X(av_realloc)                       \
    X(av_free)                          \
    X(av_freep)                         \
    X(av_reduce)                        \
    X(av_d2q)                           \
    X(av_rescale)                       \
    X(av_rescale_q)                     \
    X(av_rescale_q_rnd)                 \
    X(av_compare_ts)                    \
    X(av_gettime)                       \
    X(av_gettime_relative)              \
    X(av_parse_time)                    \
    X(av_parse_video_size)              \
    X(av_parse_video_rate)              \
    X(av_get_pix_fmt)                   \
    X(av_get_pix_fmt_name)              \
    X(av_get_pix_fmt_string)            \
    X(av_pix_fmt_desc_get)              \
    X(av_get_sample_fmt_name)           \
    X(av_get_picture_type_char)         \
    X(av_get_bytes_per_sample)          \
    X(av_sample_fmt_is_planar)          \
    X(av_get_packed_sample_fmt)         \
    X(av_samples_get_buffer_size)       \
    X(av_channel_layout_default)        \
    X(av_channel_layout_copy)           \
    X(av_channel_layout_uninit)         \
    X(av_channel_layout_describe)       \
    X(av_frame_alloc)                   \
    X(av_frame_free)                    \
    X(av_frame_unref)                   \
    X(av_frame_get_buffer)              \
    X(av_frame_ref)                     \
    X(av_frame_copy)                    \
    X(av_frame_copy_props)              \
    X(av_frame_make_writable)           \
    X(av_image_alloc)                   \
    X(av_image_fill_arrays)             \
    X(av_image_copy)                    \
    X(av_image_get_buffer_size)         \
    X(av_audio_fifo_alloc)              \
    X(av_audio_fifo_free)               \
    X(av_audio_fifo_write)              \
    X(av_audio_fifo_read)               \
    X(av_audio_fifo_size)               \
    X(av_dict_set)                      \
    X(av_dict_get)                      \
    X(av_dict_copy)                     \
    X(av_dict_free)                     \
    X(av_opt_find)                      \
    X(av_opt_set)                       \
    X(av_opt_set_int)                   \
    X(av_opt_get)                       \
    X(av_opt_get_int)                   \
    X(av_opt_next)                      \
    X(av_opt_set_defaults)              \
    X(av_display_rotation_get)          \
    X(av_base64_encode)                 \
    X(av_buffer_ref)                    \
    X(av_buffer_unref)                  \
    X(av_hwdevice_ctx_create)           \
    X(av_hwframe_ctx_alloc)             \
    X(av_hwframe_ctx_init)              \
    X(av_hwframe_get_buffer)            \
    X(av_hwframe_transfer_data)

#define SWSCALE_ENTRY_POINTS(X)         \
    X(swscale_version)                  \
    X(sws_alloc_context)                \
    X(sws_init_context)                 \
    X(sws_getContext)                   \
    X(sws_getCachedContext)             \
    X(sws_scale)                        \
    X(sws_freeContext)                  \
    X(sws_get_class)                    \
    X(sws_isSupportedInput)             \
    X(sws_isSupportedOutput)

#define SWRESAMPLE_ENTRY_POINTS(X)      \
    X(swresample_version)               \
    X(swr_alloc)                        \
    X(swr_alloc_set_opts2)              \
    X(swr_init)                         \
    X(swr_convert)                      \
    X(swr_get_delay)                    \
    X(swr_set_compensation)             \
    X(swr_set_matrix)                   \
    X(swr_free)

// Filter graphs built from text and fed frame by frame: every re-encoded picture's work.
#define AVFILTER_ENTRY_POINTS(X)        \
    X(avfilter_version)                 \
    X(avfilter_get_by_name)             \
    X(avfilter_graph_alloc)             \
    X(avfilter_graph_free)              \
    X(avfilter_graph_set_auto_convert)  \
    X(avfilter_graph_create_filter)     \
    X(avfilter_graph_parse_ptr)         \
    X(avfilter_graph_config)            \
    X(avfilter_inout_alloc)             \
    X(avfilter_inout_free)              \
    X(av_buffersrc_add_frame_flags)     \
    X(av_buffersink_get_frame)          \
    X(av_buffersink_set_frame_size)     \
    X(av_buffersink_get_w)              \
    X(av_buffersink_get_h)              \
    X(av_buffersink_get_format)

// The C runtime stands for the helper runtime library: formatted printing, file streams and
// number parsing exactly as C does them, bounded where 2008 was not.
#define MYUTIL_ENTRY_POINTS(X)          \
    X(vsnprintf)                        \
    X(fprintf)                          \
    X(snprintf)                         \
    X(fopen)                            \
    X(ftell)                            \
    X(fread)                            \
    X(fwrite)                           \
    X(fseek)                            \
    X(fclose)                           \
    X(strtok_r)                         \
    X(strtol)                           \
    X(strtod)
// clang-format on
