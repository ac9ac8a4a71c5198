# bash completion for daziziz-cli                                   -*- shell-script -*-

# The profile names as daziziz-cli lists them, without the separator lines.
_daziziz_cli_profiles() {
    "${1:-daziziz-cli}" profiles 2>/dev/null | cut -f2 | grep -v -- '-----'
}

_daziziz_cli() {
    local cur prev words cword
    _init_completion -n = || return

    local command="" i
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            profiles | probe | encoders | convert | watch | estimate | run)
                command=${words[i]}
                break
                ;;
        esac
    done

    case $command in
        "")
            if [[ $cur == -* ]]; then
                COMPREPLY=($(compgen -W '--help --version' -- "$cur"))
            else
                COMPREPLY=($(compgen -W 'profiles probe encoders convert watch estimate run' -- "$cur"))
            fi
            ;;
        profiles)
            COMPREPLY=($(compgen -W '--help' -- "$cur"))
            ;;
        probe)
            if [[ $cur == -* ]]; then
                COMPREPLY=($(compgen -W '--help --json --crop' -- "$cur"))
            else
                _filedir
            fi
            ;;
        encoders)
            case $prev in
                --render-node)
                    _filedir
                    return
                    ;;
            esac
            COMPREPLY=($(compgen -W '--help --render-node' -- "$cur"))
            ;;
        convert | watch | estimate)
            case $prev in
                --profile)
                    local IFS=$'\n' name
                    COMPREPLY=()
                    while IFS= read -r name; do
                        [[ $name == "$cur"* ]] && COMPREPLY+=("$(printf '%q' "$name")")
                    done < <(_daziziz_cli_profiles "${words[0]}")
                    return
                    ;;
                --output-folder | --keep-tree | --archive-folder)
                    _filedir -d
                    return
                    ;;
                --report | --config)
                    _filedir
                    return
                    ;;
                --crop)
                    COMPREPLY=($(compgen -W 'none auto' -- "$cur"))
                    return
                    ;;
                --cut)
                    COMPREPLY=($(compgen -W 'exact keyframe' -- "$cur"))
                    return
                    ;;
                --hardware)
                    COMPREPLY=($(compgen -W 'off auto vaapi nvenc qsv' -- "$cur"))
                    return
                    ;;
                --pipeline)
                    COMPREPLY=($(compgen -W 'on off' -- "$cur"))
                    return
                    ;;
                --quality)
                    local step
                    COMPREPLY=()
                    for step in "Very high" High Standard Small; do
                        [[ $step == "$cur"* ]] && COMPREPLY+=("$(printf '%q' "$step")")
                    done
                    return
                    ;;
                --channels)
                    COMPREPLY=($(compgen -W 'Stereo Mono' -- "$cur"))
                    return
                    ;;
                --aspect)
                    COMPREPLY=($(compgen -W 'Original 4:3 16:9' -- "$cur"))
                    return
                    ;;
                --volume)
                    COMPREPLY=($(compgen -W '0 20 40 60 80 100 120 140 160 180 200' -- "$cur"))
                    return
                    ;;
                --loudness)
                    COMPREPLY=($(compgen -W 'ebu podcast streaming -23 -16 -14' -- "$cur"))
                    return
                    ;;
                --true-peak)
                    COMPREPLY=($(compgen -W '-1 -2' -- "$cur"))
                    return
                    ;;
                --video-codec | --video-size | --video-bitrate | --frame-rate | --audio-codec | \
                    --audio-bitrate | --sample-rate | --fit-size | --preset | --jobs | --shard | \
                    --name | --trim | --audio-track | --audio-lang | --subtitles | --settle)
                    # Entries of the chosen profile's lists: nothing to offer without it.
                    return
                    ;;
            esac
            if [[ $cur == -* ]]; then
                local options='--help --profile --preset --output-folder --overwrite
                    --video-codec --video-size --video-bitrate --frame-rate --audio-codec
                    --audio-bitrate --sample-rate --channels --aspect --volume --quality
                    --fit-size --audio-track --all-audio --audio-lang --subtitles --letterbox
                    --crop --reencode --verbose'
                [[ $command == estimate ]] ||
                    options+=' --jobs --report --skip-existing --hardware --pipeline
                        --loudness --true-peak'
                case $command in
                    convert)
                        options+=' --name --keep-tree --keep-smaller --replace-original
                            --archive-folder --shard --trim --cut --split-chapters --loudness-album'
                        ;;
                    watch)
                        options+=' --name --keep-tree --keep-smaller --settle --config --poll'
                        ;;
                esac
                COMPREPLY=($(compgen -W "$options" -- "$cur"))
            else
                _filedir
            fi
            ;;
        run)
            case $prev in
                --threads)
                    return
                    ;;
                --pipeline)
                    COMPREPLY=($(compgen -W 'on off' -- "$cur"))
                    return
                    ;;
            esac
            if [[ $cur == --* ]]; then
                COMPREPLY=($(compgen -W '--help --threads --pipeline' -- "$cur"))
            elif [[ $cur != -* ]]; then
                _filedir
            fi
            ;;
    esac
} &&
    complete -F _daziziz_cli daziziz-cli

# ex: filetype=sh
