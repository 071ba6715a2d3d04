#include "error_log.h"

#include "clock.h"
#include "dialog_service.h"
#include "engine_state.h"
#include "program_folder.h"
#include "text_file.h"
#include "threaded_timer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <map>

namespace {

const std::map<int, QString>& error_texts() {
    static const std::map<int, QString> texts = {
        {1, " - Erro de Memória"},
        {2, " - Erro ao Abrir Arquivo"},
        {3, " - Não encontrado Driver de Som"},
        {4, " - Buffer Perdido"},
        {5, " - Handle inválido"},
        {6, " - Formato não suportado"},
        {7, " - Posição de Play inválida"},
        {8, " - Erro na Inicialização"},
        {9, " - Erro no Start"},
        {10, " - Não inicializado CD"},
        {11, " - CDINIT Não inicializado CD"},
        {12, " - Não há CD no Drive"},
        {13, " - Não foi possível encontrar Trilha do CD"},
        {14, " - Sistema Já inicializado"},
        {15, " - Não há controle de volume (cd)"},
        {16, " - Não Pausado"},
        {17, " - Faixa Sem áudio"},
        {18, " - Não foi possível descarregar o canal (free)"},
        {19, " - Tipo especificado Ilegal"},
        {20, " - Parametro especificado Ilegal"},
        {21, " - 3D não suportado"},
        {22, " - EAX não suportado"},
        {23, " - Número inválido para Device"},
        {24, " - Não está tocando"},
        {25, " - Sample Rate inválido"},
        {26, " - A3D.DLL não intalado"},
        {27, " - O Stream não é um arquivo Stream (WAV/MP3)"},
        {29, " - Não há hardware Disponível"},
        {30, " - Sincronismo desativado"},
        {31, " - O MOD MUSIC não está com os dados na sequencia"},
        {32, " - Não foi encontrato conexão de Internet"},
        {33, " - Não foi possível criar o Arquivo"},
        {34, " - Efeito não está disponível"},
        {35, " - Canal está tocando"},
        {37, " - Dados requeridos não disponíveis"},
        {38, " - O canal -  DECODIFICANDO CANAL"},
        {39, " - Versão atual do Directx não suporta"},
        {40, " - Tempo de conexão espirou"},
        {41, " - Formato não suportado"},
        {42, " - SPEAK indisponivel"},
        {43, " - Versão inválida - Bass.dll"},
        {44, " - Erro de Codec"},
        {45, " - Canal ou Arquivo já finalizado"},
        {46, " - Canal ou Arquivo em Uso"},
        {1000, " - Arquivo com Proteção (licença)"},
        {1001, " - Windows Media 9 ou Superior não instalado"},
        {1002, " - Acesso não permitido / usuário ou senha inválido"},
    };
    return texts;
}

const QString kSaveFailed = QStringLiteral("Erro ao Salvar LOGS de Erro (BS)");

} // namespace

QString TEXTO_ERRO_BS(std::int16_t code) {
    const auto& texts = error_texts();
    const auto it = texts.find(code);
    if (it == texts.end())
        return "CODIGO: BS(" + QString::number(code) + ") Erro Indefinido";
    return "Cod:BS" + QString::number(code) + it->second;
}

namespace miravox {

QString error_log_path(const QDate& day) {
    return PASTA_PROGRAMA() + "LOGS/" + QString::number(day.year()) + QString::number(day.month()) +
           QString::number(day.day()) + ".ERR";
}

QStringList error_log_block(const QString& text, int code, const QString& file_path, const QDateTime& now) {
    return {
        "DATA: " + now.date().toString("dd/MM/yyyy") + " - HORA: " + now.time().toString("HH:mm:ss") +
            "  -  ERRO AO CARREGAR CANAL",
        "APLICACAO: " + QCoreApplication::applicationFilePath(),
        "TEXTO: " + text,
        "Arquivo: " + file_path,
        "BS Erro: " + QString::number(code) + " - " + TEXTO_ERRO_BS(std::int16_t(code)),
        "Timer: " + QString::number(wct_timers),
        "Timer Ativos: " + QString::number(wct_timers_ativos),
        "Playng: " + QString::number(wct_playing),
        "Canais Criados: " + QString::number(wct_canais_criados),
        "Erro ao Criar Canal: " + QString::number(wct_erro_criar),
        "Erro Play Canal: " + QString::number(wct_erro_play),
        "Erro Play WEB: " + QString::number(BASS_ERRO_WEB),
        "Erro Handle: " + QString::number(BASS_ERRO_HANDLE),
        "Canais Carregados: " + QString::number(wct_canais_carregados),
        "Atualiza Device: " + QString::number(wct_atualiza_device),
        "Canais não Atualizado: " + QString::number(wct_play_sem_update),
        QString(58, '-'),
    };
}

void append_error_log(const QString& text, int code, const QString& file_path, DialogService& dialogs) {
    if (!wlista_erros)
        wlista_erros = std::make_unique<QStringList>();
    const QDateTime now = clock().now();
    const QString folder = PASTA_PROGRAMA() + "LOGS/";
    const QString path = error_log_path(now.date());
    const QStringList block = error_log_block(text, code, file_path, now);

    TextEncoding encoding = TextEncoding::Windows1252;
    if (QFileInfo::exists(path)) {
        auto existing = read_text_file(path);
        if (!existing) {
            *wlista_erros << block;
            dialogs.notice(kSaveFailed);
            return;
        }
        *wlista_erros = existing->lines;
        encoding = existing->encoding;
    } else {
        wlista_erros->clear();
    }
    *wlista_erros << block;
    if (!QDir().mkpath(folder) || !write_text_file(path, *wlista_erros, encoding))
        dialogs.notice(kSaveFailed);
}

} // namespace miravox
